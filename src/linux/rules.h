// Policy-routing rules (`ip -j [-6] rule`) and the routes of the tables they
// name (`ip -j [-6] route show table N`).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "linux/routes.h"

namespace corvale {

/// Rules of one family from `ip -j rule` output, in printed (priority) order;
/// empty for anything but a JSON array. Entries without a priority are dropped.
std::vector<PolicyRule> parse_rules_json(std::string_view json, uint16_t family);

/// Runs the rule listing for `family` and parses it.
std::vector<PolicyRule> read_rules(uint16_t family);

/// The routes of `table` for `family`, each marked with the table.
std::vector<RouteEntry> read_table_routes(const NameToIndex& names, uint16_t family,
                                          const std::string& table);

/// The main table of both families, ranked by the rules of each family, and
/// the rules (IPv4 then IPv6) with the route count of the table each names.
struct RoutingState {
  std::vector<RouteEntry> routes;
  std::vector<PolicyRule> rules;
};
RoutingState read_routing(const NameToIndex& names, uint32_t uid);

}  // namespace corvale
