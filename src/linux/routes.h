// The kernel routing tables (`ip -j route show`) and single-target route
// lookups (`ip route get`).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

using NameToIndex = std::map<std::string, uint32_t>;

/// Interface name to index; a later adapter with the same name wins.
NameToIndex name_to_index(const std::vector<Adapter>& adapters);
/// The same map from a fresh `ip -j addr show` listing.
NameToIndex name_to_index();

/// Routes of one family (kFamilyV4 or kFamilyV6) from `ip -j [-6] route show`
/// output, in printed order. Routes whose device is not in `names` are
/// dropped; an empty `names` gives no routes.
std::vector<RouteEntry> parse_routes_json(std::string_view json, const NameToIndex& names,
                                          uint16_t family);

/// Runs the table command for `family` and parses it.
std::vector<RouteEntry> read_routes(const NameToIndex& names, uint16_t family);

/// The IPv4 routes followed by the IPv6 routes.
std::vector<RouteEntry> read_all_routes(const NameToIndex& names);

/// The route of the first line of `ip route get` output; absent without a
/// "dev" key or when the device is not in `names`.
std::optional<RouteLookup> parse_route_get(std::string_view output, const NameToIndex& names,
                                           bool ipv6);

/// Asks the kernel which route it would take to `target` (IPv6 when the text
/// contains ':'). Absent for an empty target or one that starts with '-'.
std::optional<RouteLookup> route_lookup(const std::string& target);

}  // namespace corvale
