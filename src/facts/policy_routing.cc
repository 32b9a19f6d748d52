#include "facts/policy_routing.h"

#include <algorithm>
#include <limits>

namespace corvale {

bool selects_local_traffic(const PolicyRule& rule, uint32_t uid) {
  if (rule.narrow || !rule.oif.empty()) return false;
  // Programs' own packets enter the lookup with input interface lo.
  if (!rule.iif.empty() && rule.iif != "lo") return false;
  if (rule.uid_start && (uid < *rule.uid_start || uid > rule.uid_end.value_or(*rule.uid_start)))
    return false;
  // Ordinary traffic carries no mark: "fwmark X" misses it, "not fwmark X"
  // takes it. An inverted rule without a mark takes nothing ordinary.
  if (rule.invert) return !rule.fwmark.empty() && rule.iif.empty() && !rule.uid_start;
  return rule.fwmark.empty();
}

std::vector<std::string> rule_tables(const std::vector<PolicyRule>& rules) {
  std::vector<std::string> out;
  for (const auto& r : rules) {
    if (!r.action.empty() || r.table.empty() || r.table == "local" || r.table == "main") continue;
    if (std::find(out.begin(), out.end(), r.table) == out.end()) out.push_back(r.table);
  }
  return out;
}

std::vector<RouteEntry> rank_routes(std::vector<RouteEntry> main_routes,
                                    const std::map<std::string, std::vector<RouteEntry>>& tables,
                                    const std::vector<PolicyRule>& rules, uint32_t uid) {
  if (rules.empty()) return main_routes;
  constexpr uint32_t kNever = std::numeric_limits<uint32_t>::max();
  std::map<std::string, std::vector<RouteEntry>> all = tables;
  for (auto& r : main_routes) r.table.clear();
  all["main"] = std::move(main_routes);
  for (auto& [name, routes] : all)
    for (auto& r : routes) r.rule_priority = kNever;
  for (const auto& rule : rules) {
    if (!selects_local_traffic(rule, uid)) continue;
    if (rule.action == "unreachable" || rule.action == "blackhole" || rule.action == "prohibit")
      break;
    if (!rule.action.empty()) continue;
    auto table = all.find(rule.table);
    if (table == all.end()) continue;
    for (auto& r : table->second) {
      if (r.rule_priority != kNever) continue;
      if (rule.suppress_prefixlength && r.prefix_length <= *rule.suppress_prefixlength) continue;
      r.rule_priority = rule.priority;
    }
  }
  std::vector<RouteEntry> out = std::move(all["main"]);
  for (const auto& rule : rules) {
    auto table = all.find(rule.table);
    if (table == all.end() || rule.table == "main") continue;
    for (auto& r : table->second)
      if (r.rule_priority != kNever) out.push_back(std::move(r));
    all.erase(table);
  }
  std::stable_sort(out.begin(), out.end(), [](const RouteEntry& a, const RouteEntry& b) {
    return a.rule_priority < b.rule_priority;
  });
  return out;
}

bool route_preferred(const RouteEntry& a, const RouteEntry& b) {
  if (a.rule_priority != b.rule_priority) return a.rule_priority < b.rule_priority;
  return a.metric < b.metric;
}

std::string table_mark(const RouteEntry& route) {
  return route.table.empty() ? std::string() : " (table " + route.table + ")";
}

}  // namespace corvale
