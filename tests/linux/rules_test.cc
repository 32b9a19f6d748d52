#include "linux/rules.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace corvale {
namespace {

using testing::read_data;

// Captured in a network namespace with wg-quick's two rules and, around
// them, rules of each selector kind that tunnels and proxy cores add.
TEST(ParseRules, CapturedIpv4Rules) {
  auto rules = parse_rules_json(read_data("linux/ip_rule_policy.json"), kFamilyV4);
  ASSERT_EQ(rules.size(), 10u);
  auto rule = [](uint32_t priority, std::string table, std::string action) {
    PolicyRule r;
    r.priority = priority;
    r.table = std::move(table);
    r.action = std::move(action);
    return r;
  };
  std::vector<PolicyRule> want(10);
  want[0] = rule(0, "local", "");
  want[1] = rule(9000, "2022", ""), want[1].narrow = true;
  want[2] = rule(9001, "2022", ""), want[2].iif = "lo", want[2].uid_start = 0u,
  want[2].uid_end = 4294967294u;
  want[3] = rule(9002, "", "unreachable"), want[3].fwmark = "0x80000/0xff0000";
  want[4] = rule(9003, "", "goto"), want[4].iif = "wg0";
  want[5] = rule(9004, "2022", ""), want[5].narrow = true, want[5].oif = "wg0";
  want[6] = rule(32764, "main", ""), want[6].suppress_prefixlength = uint8_t{0};
  want[7] = rule(32765, "51820", ""), want[7].invert = true, want[7].fwmark = "0xca6c";
  want[8] = rule(32766, "main", "");
  want[9] = rule(32767, "default", "");
  EXPECT_EQ(rules, want);
}

TEST(ParseRules, CapturedIpv6RulesCarryTheirFamily) {
  auto rules = parse_rules_json(read_data("linux/ip6_rule_policy.json"), kFamilyV6);
  ASSERT_EQ(rules.size(), 4u);
  EXPECT_EQ(rules[2].table, "51820");
  EXPECT_TRUE(rules[2].invert);
  for (const auto& r : rules) EXPECT_EQ(r.family, kFamilyV6);
}

TEST(ParseRules, HostileInput) {
  struct Case {
    const char* json;
    size_t rules;
  };
  const Case cases[] = {
      {"", 0},
      {"Error: ipv4: FIB table does not exist.", 0},
      {"{\"priority\":1,\"table\":\"main\"}", 0},
      {"[1, \"x\", null, []]", 0},
      {"[{\"table\":\"main\"}]", 0},                           // no priority
      {"[{\"priority\":-5,\"table\":\"main\"}]", 0},           // negative
      {"[{\"priority\":99999999999,\"table\":\"main\"}]", 0},  // out of range
      {"[{\"priority\":7,\"table\":5,\"fwmark\":[1]}]", 1},    // odd types read as absent
      {"[{\"priority\":7,\"table\":\"main\"", 0},              // cut short
  };
  for (const auto& c : cases)
    EXPECT_EQ(parse_rules_json(c.json, kFamilyV4).size(), c.rules) << c.json;
  auto odd = parse_rules_json("[{\"priority\":7,\"table\":5,\"fwmark\":[1]}]", kFamilyV4);
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0].action, "none");  // neither a table nor an action: never a lookup
}

TEST(ParseRoutes, CapturedPolicyTableRoutes) {
  NameToIndex names = {{"lo", 1}, {"wg0", 4}};
  auto v4 = parse_routes_json(read_data("linux/ip_route_table_51820.json"), names, kFamilyV4);
  auto v6 = parse_routes_json(read_data("linux/ip6_route_table_51820.json"), names, kFamilyV6);
  EXPECT_EQ(v4, (std::vector<RouteEntry>{{"0.0.0.0", "", 4, 0, kFamilyV4, 0}}));
  EXPECT_EQ(v6, (std::vector<RouteEntry>{{"::", "", 4, 1024, kFamilyV6, 0}}));
}

}  // namespace
}  // namespace corvale
