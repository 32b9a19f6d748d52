// Policy routing as the kernel walks it for the host's own programs: which
// rules they meet, which tables those rules name, and in which order the
// default routes of all those tables are tried.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// Whether `rule` matches ordinary traffic of a program run by `uid`: no
/// narrower selector than a firewall-mark exclusion ("not fwmark"), the
/// input interface lo, or a uid range that holds `uid`.
bool selects_local_traffic(const PolicyRule& rule, uint32_t uid);

/// Tables named by lookup rules, besides "local" and "main", each once in
/// rule order.
std::vector<std::string> rule_tables(const std::vector<PolicyRule>& rules);

/// The routes of one family in the order local traffic meets them. Walks
/// `rules` (that family's, by priority) as the kernel does: each rule that
/// selects local traffic gives the routes of its table, less those that
/// `suppress_prefixlength` hides, its priority; an unreachable, blackhole or
/// prohibit rule ends the walk. Main-table routes are all kept (those never
/// reached rank last); other tables' routes only when a rule reaches them.
/// Without rules every route keeps priority 0 and its printed order.
std::vector<RouteEntry> rank_routes(std::vector<RouteEntry> main_routes,
                                    const std::map<std::string, std::vector<RouteEntry>>& tables,
                                    const std::vector<PolicyRule>& rules, uint32_t uid);

/// Whether local traffic tries `a` before `b`: the earlier rule first, then
/// the lower metric.
bool route_preferred(const RouteEntry& a, const RouteEntry& b);

/// " (table 51820)" for a route of a policy table, "" for the main table.
std::string table_mark(const RouteEntry& route);

}  // namespace corvale
