// The host part of the facts as the collect stage builds it from the real
// command output of one lab scenario (tests/data/captures/SCENARIO). Needs
// CORVALE_TEST_DATA and the corvale_linux library.
#pragma once

#include <string>

#include "facts/adapter_assessment.h"
#include "facts/egress.h"
#include "facts/facts.h"
#include "linux/adapters.h"
#include "linux/dns_config.h"
#include "linux/routes.h"
#include "linux/sockets.h"
#include "support/test_data.h"

namespace corvale::testing {

/// What the runner hands over: standard output, or the error text when that is blank.
inline std::string captured_command_text(const std::string& dir, const std::string& file) {
  std::string out = read_data(dir + file);
  if (out.find_first_not_of(" \t\r\n") != std::string::npos) return out;
  return read_data(dir + file + ".stderr");
}

inline Facts captured_host_facts(const std::string& scenario) {
  const std::string dir = "captures/" + scenario + "/";
  Facts f;
  f.hostname = "campus-laptop";
  auto dns = parse_resolv_conf(read_data(dir + "resolv.conf"));
  f.adapters = parse_ip_addr_json(read_data(dir + "ip_addr.json"), dns);
  auto names = name_to_index(f.adapters);
  f.routes = parse_routes_json(read_data(dir + "ip_route.json"), names, kFamilyV4);
  auto v6 = parse_routes_json(read_data(dir + "ip6_route.json"), names, kFamilyV6);
  f.routes.insert(f.routes.end(), v6.begin(), v6.end());
  f.egress_v4 = parse_route_get(captured_command_text(dir, "route_get_v4.txt"), names, false);
  f.egress_v6 = parse_route_get(captured_command_text(dir, "route_get_v6.txt"), names, true);
  f.devices_by_mac = device_records_for(f.adapters);
  for (const auto& a : f.adapters)
    f.assessments_by_index[a.if_index] = assess_adapter(a, f.devices_by_mac, f.routes);
  EgressFacts e = derive_egress(f.adapters, f.routes, f.egress_v4, f.egress_v6);
  f.egress_v4_adapter = e.egress_v4_adapter;
  f.default_route_v4 = e.default_route_v4;
  f.default_route_v6 = e.default_route_v6;
  f.default_gateway_v4 = e.default_gateway_v4;
  f.default_gateway_v6 = e.default_gateway_v6;
  f.tcp_sockets = parse_ss_output(read_data(dir + "ss_tcp.txt"), true);
  f.tcp_listeners = listening_entries(f.tcp_sockets);
  f.udp_sockets = parse_ss_output(read_data(dir + "ss_udp.txt"), false);
  for (const auto& a : f.adapters) {
    for (const auto& x : a.ipv4_addresses) f.local_addresses.insert(x.address);
    for (const auto& x : a.ipv6_addresses) f.local_addresses.insert(x.address);
  }
  f.local_names = {"campus-laptop", "localhost"};
  return f;
}

}  // namespace corvale::testing
