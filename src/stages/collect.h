// The collect stage: creates one Facts record and fills it step by step.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// Runs every collector and probe in their fixed order; never fails.
Facts collect_facts();

/// os_name from the text of /etc/os-release: the PRETTY_NAME value, unquoted,
/// or "Linux" without one.
std::string parse_os_name(std::string_view os_release);

/// The route-source result: which adapter owns the connection's source
/// address, and whether that disagrees with the route lookup.
RouteSourceProbe route_source_result(bool connected, const std::string& source_address,
                                     uint32_t route_if_index, const std::vector<Adapter>& adapters);

/// Every conventional default gateway, IPv4 first, each once; a link-local
/// gateway carries its interface index ("fe80::1%2") so that it can be pinged.
std::vector<GatewayProbe> gateway_targets(const std::vector<RouteEntry>& routes);

}  // namespace corvale
