#include "linux/rules.h"

#include "facts/policy_routing.h"
#include "linux/json_fields.h"
#include "util/command.h"

namespace corvale {
namespace {

using json_fields::text_field;
using json_fields::uint_field;

// Selectors that confine a rule to some destinations, sources or flows.
bool has_narrow_selector(const nlohmann::json& e) {
  std::string src = text_field(e, "src");
  if (!src.empty() && src != "all") return true;
  for (const char* key : {"srclen", "dst", "dstlen", "tos", "dsfield", "ipproto", "sport", "dport",
                          "l3mdev", "tun_id", "realms", "flowlabel"})
    if (e.contains(key)) return true;
  return false;
}

std::vector<std::string> family_args(uint16_t family, std::vector<std::string> rest) {
  std::vector<std::string> args = {"-j"};
  if (family == kFamilyV6) args.push_back("-6");
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

}  // namespace

std::vector<PolicyRule> parse_rules_json(std::string_view json, uint16_t family) {
  auto doc = json_fields::parse_lenient(json);
  if (doc.is_discarded() || !doc.is_array()) return {};
  std::vector<PolicyRule> out;
  for (const auto& e : doc) {
    if (!e.is_object()) continue;
    auto priority = uint_field<uint32_t>(e, "priority");
    if (!priority) continue;
    PolicyRule r;
    r.priority = *priority;
    r.family = family;
    r.table = text_field(e, "table");
    // `ip` prints a lookup as "table"; any other action under "action",
    // and a goto as its own key.
    r.action = text_field(e, "action");
    if (r.action.empty() && e.contains("goto")) r.action = "goto";
    if (r.action.empty() && r.table.empty()) r.action = "none";
    r.invert = e.contains("not");
    r.fwmark = text_field(e, "fwmark");
    if (std::string mask = text_field(e, "fwmask"); !r.fwmark.empty() && !mask.empty())
      r.fwmark += "/" + mask;
    r.iif = text_field(e, "iif");
    r.oif = text_field(e, "oif");
    r.narrow = has_narrow_selector(e);
    r.uid_start = uint_field<uint32_t>(e, "uid_start");
    r.uid_end = uint_field<uint32_t>(e, "uid_end");
    r.suppress_prefixlength = uint_field<uint8_t>(e, "suppress_prefixlen");
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<PolicyRule> read_rules(uint16_t family) {
  return parse_rules_json(run_command_text("ip", family_args(family, {"rule", "show"})), family);
}

std::vector<RouteEntry> read_table_routes(const NameToIndex& names, uint16_t family,
                                          const std::string& table) {
  // A table name that looks like an option is never passed on.
  if (table.empty() || table.front() == '-') return {};
  auto routes = parse_routes_json(
      run_command_text("ip", family_args(family, {"route", "show", "table", table})), names,
      family);
  for (auto& r : routes) r.table = table;
  return routes;
}

RoutingState read_routing(const NameToIndex& names, uint32_t uid) {
  RoutingState s;
  for (uint16_t family : {kFamilyV4, kFamilyV6}) {
    std::vector<PolicyRule> rules = read_rules(family);
    std::map<std::string, std::vector<RouteEntry>> tables;
    for (const auto& t : rule_tables(rules)) tables[t] = read_table_routes(names, family, t);
    std::vector<RouteEntry> main_routes = read_routes(names, family);
    for (auto& rule : rules) {
      auto t = tables.find(rule.table);
      if (rule.table == "main") rule.table_routes = static_cast<uint32_t>(main_routes.size());
      if (t != tables.end()) rule.table_routes = static_cast<uint32_t>(t->second.size());
    }
    auto ranked = rank_routes(std::move(main_routes), tables, rules, uid);
    s.routes.insert(s.routes.end(), std::make_move_iterator(ranked.begin()),
                    std::make_move_iterator(ranked.end()));
    s.rules.insert(s.rules.end(), rules.begin(), rules.end());
  }
  return s;
}

}  // namespace corvale
