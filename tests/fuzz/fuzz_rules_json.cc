// `ip -j rule` output: every rule kept has a priority, is a lookup or names
// its action, and ranking routes by any such rules never invents a route.
#include "facts/policy_routing.h"
#include "fuzz_support.h"
#include "linux/rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  auto rules = parse_rules_json(fuzz::text_of(data, size), kFamilyV4);
  for (const auto& r : rules)
    fuzz::check(!r.table.empty() || !r.action.empty(), "a lookup or an action", r.table);
  RouteEntry main_default{"0.0.0.0", "192.168.50.1", 2, 100, kFamilyV4, 0};
  RouteEntry other{"0.0.0.0", "", 4, 0, kFamilyV4, 0};
  std::map<std::string, std::vector<RouteEntry>> tables;
  for (const auto& t : rule_tables(rules)) tables[t] = {other};
  auto ranked = rank_routes({main_default}, tables, rules, 1000);
  fuzz::check(!ranked.empty() && ranked.size() <= 1 + tables.size(), "main kept, nothing invented");
  return 0;
}
