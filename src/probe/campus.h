// Probes of the campus network's fixed infrastructure: portal, login-status
// service, authentication API and the two campus resolvers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "facts/facts.h"
#include "facts/probe_targets.h"

namespace corvale {

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
