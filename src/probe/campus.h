// Probes of the campus network's fixed infrastructure: portal, login-status
// service, authentication API and the two campus resolvers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "facts/facts.h"

namespace corvale {

/// Where and how long the campus probes go. The defaults are the campus
/// network's own hosts; tests point them at loopback stand-ins.
struct CampusTargets {
  std::string portal_host = "10.0.0.55";
  uint16_t portal_port = 80;
  std::string login_path = "/cgi-bin/rad_user_info";
  std::string api_host = "10.0.0.54";
  uint16_t api_port = 8800;
  std::string resolver_a = "10.0.32.32";
  std::string resolver_b = "10.0.32.33";
  uint64_t portal_timeout_ms = 8000;
  uint64_t login_timeout_ms = 6000;
  uint64_t dns_timeout_ms = 4000;
  uint64_t api_timeout_ms = 6000;
  uint64_t api_tcp_timeout_ms = 1400;
};

inline constexpr int kCampusProbeKinds = 5;

/// Reads a login-status reply: JSON, padded JSON "cb({...})", or a comma list
/// of more than 8 fields.
CampusLoginInfo parse_login_status(std::string_view body);

/// One probe: 0 portal page, 1 login status, 2 and 3 the resolvers, 4 the API
/// (HTTP, then a timed TCP connect when HTTP gives no response).
CampusProbeResult run_campus_probe(int kind, const CampusTargets& targets = {});

/// Pings the four hosts ("ZEK reachability"), runs the five probes ("ZEK
/// probes") and reads portal state and login status from them.
CampusProbes probe_campus(const CampusTargets& targets = {});

/// Portal state and login status from the replies of probe kinds 0 and 1.
void read_campus_replies(CampusProbes& c);

}  // namespace corvale
