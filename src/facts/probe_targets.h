// Where the probes go: the campus network's fixed hosts and the name DNS
// probes ask for. The graph and the console name these targets too, so they
// live here, below the probes that reach them.
#pragma once

#include <cstdint>
#include <string>

namespace corvale {

/// The well-known Internet name asked for by DNS probes.
inline constexpr const char* kDnsProbeName = "www.baidu.com";

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

}  // namespace corvale
