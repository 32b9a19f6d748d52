#include "facts/policy_routing.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

PolicyRule lookup(uint32_t priority, std::string table) {
  PolicyRule r;
  r.priority = priority;
  r.table = std::move(table);
  return r;
}

TEST(SelectsLocalTraffic, BySelector) {
  struct Case {
    const char* name;
    PolicyRule rule;
    bool want;
  };
  PolicyRule not_mark = lookup(32765, "51820"), mark = lookup(5210, "main"),
             iif_lo = lookup(9001, "2022"), iif_tun = lookup(9003, "2022"),
             uid_in = lookup(9001, "2022"), uid_out = lookup(9001, "2022"),
             narrow = lookup(9000, "2022"), oif = lookup(9004, "2022"),
             not_plain = lookup(100, "7");
  not_mark.invert = true, not_mark.fwmark = "0xca6c";
  mark.fwmark = "0x80000/0xff0000";
  iif_lo.iif = "lo";
  iif_tun.iif = "tun0";
  uid_in.uid_start = 0u, uid_in.uid_end = 4294967294u;
  uid_out.uid_start = 2000u, uid_out.uid_end = 2999u;
  narrow.narrow = true;
  oif.oif = "wg0";
  not_plain.invert = true;
  const Case cases[] = {
      {"plain lookup", lookup(32766, "main"), true},
      {"not fwmark (wg-quick)", not_mark, true},
      {"fwmark (marked traffic only)", mark, false},
      {"iif lo", iif_lo, true},
      {"iif of a tunnel", iif_tun, false},
      {"uid range holding the user", uid_in, true},
      {"uid range of others", uid_out, false},
      {"destination selector", narrow, false},
      {"output interface", oif, false},
      {"inverted without a mark", not_plain, false},
  };
  for (const auto& c : cases) EXPECT_EQ(selects_local_traffic(c.rule, 1000), c.want) << c.name;
}

RouteEntry route(std::string dst, uint8_t len, uint32_t if_index, uint32_t metric,
                 std::string table = "") {
  RouteEntry r{std::move(dst), "", if_index, metric, kFamilyV4, len};
  r.table = std::move(table);
  return r;
}

// Names of the default routes in the order local traffic meets them.
std::vector<std::string> order(const std::vector<RouteEntry>& routes) {
  std::vector<std::string> out;
  for (const auto& r : routes)
    out.push_back(std::to_string(r.if_index) + (r.table.empty() ? "" : "@" + r.table) + "/" +
                  std::to_string(r.prefix_length));
  return out;
}

TEST(RankRoutes, Layouts) {
  PolicyRule suppress = lookup(32764, "main"), not_mark = lookup(32765, "51820");
  suppress.suppress_prefixlength = uint8_t{0};
  not_mark.invert = true, not_mark.fwmark = "0xca6c";
  PolicyRule tun_range = lookup(9000, "2022"), unreachable = lookup(50, "");
  tun_range.narrow = true;
  unreachable.action = "unreachable";
  PolicyRule marked = lookup(5210, "52");
  marked.fwmark = "0x80000/0xff0000";
  const std::vector<RouteEntry> main_routes = {route("0.0.0.0", 0, 2, 100),
                                               route("192.168.50.0", 24, 2, 0)};
  struct Case {
    const char* name;
    std::map<std::string, std::vector<RouteEntry>> tables;
    std::vector<PolicyRule> rules;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"no rules read: the main table as printed", {}, {}, {"2/0", "2/24"}},
      {"wg-quick: table 51820 before main's default, whatever the metric",
       {{"51820", {route("0.0.0.0", 0, 4, 0, "51820")}}},
       {lookup(0, "local"), suppress, not_mark, lookup(32766, "main"), lookup(32767, "default")},
       {"2/24", "4@51820/0", "2/0"}},
      {"auto-route: main less its default, then table 2022",
       {{"2022", {route("0.0.0.0", 0, 5, 0, "2022")}}},
       {tun_range,
        [&] {
          PolicyRule r = suppress;
          r.priority = 9001;
          return r;
        }(),
        lookup(9002, "2022"), lookup(32766, "main")},
       {"2/24", "5@2022/0", "2/0"}},
      {"a rule for marked traffic only leaves its table out",
       {{"52", {route("0.0.0.0", 0, 6, 0, "52")}}},
       {marked, lookup(32766, "main")},
       {"2/0", "2/24"}},
      {"an empty table falls through",
       {{"2022", {}}},
       {lookup(9002, "2022"), lookup(32766, "main")},
       {"2/0", "2/24"}},
      {"unreachable ends the walk: main is never reached",
       {{"2022", {route("0.0.0.0", 0, 5, 0, "2022")}}},
       {unreachable, lookup(9002, "2022"), lookup(32766, "main")},
       {"2/0", "2/24"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(order(rank_routes(main_routes, c.tables, c.rules, 1000)), c.want) << c.name;
}

TEST(RoutePreferred, RuleBeforeMetric) {
  RouteEntry table = route("0.0.0.0", 0, 4, 500, "51820"), main = route("0.0.0.0", 0, 2, 10);
  table.rule_priority = 32765;
  main.rule_priority = 32766;
  EXPECT_TRUE(route_preferred(table, main));
  EXPECT_FALSE(route_preferred(main, table));
  main.rule_priority = table.rule_priority;
  EXPECT_TRUE(route_preferred(main, table));  // same rule: the lower metric
  EXPECT_EQ(table_mark(table), " (table 51820)");
  EXPECT_EQ(table_mark(main), "");
}

}  // namespace
}  // namespace corvale
