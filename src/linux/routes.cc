#include "linux/routes.h"

#include "linux/adapters.h"
#include "linux/json_fields.h"
#include "util/command.h"
#include "util/text.h"

namespace corvale {
namespace {

using json_fields::text_field;
using json_fields::uint_field;

// "default", "A/N" (a leading '+' on N is accepted, a bad N gives 0) or a host.
void set_destination(std::string_view dst, uint16_t family, RouteEntry& r) {
  bool v6 = family == kFamilyV6;
  if (dst == "default") {
    r.destination = v6 ? "::" : "0.0.0.0";
    r.prefix_length = 0;
    return;
  }
  auto slash = dst.find('/');
  if (slash == std::string_view::npos) {
    r.destination = std::string(dst);
    r.prefix_length = v6 ? 128 : 32;
    return;
  }
  r.destination = std::string(dst.substr(0, slash));
  auto len = dst.substr(slash + 1);
  if (len.starts_with('+')) len.remove_prefix(1);
  r.prefix_length = parse_uint<uint8_t>(len).value_or(0);
}

}  // namespace

NameToIndex name_to_index(const std::vector<Adapter>& adapters) {
  NameToIndex m;
  for (const auto& a : adapters) m.insert_or_assign(a.name, a.if_index);
  return m;
}

NameToIndex name_to_index() {
  // Only names and indexes matter here: skip the speed files and resolv.conf.
  return name_to_index(parse_ip_addr_json(run_command_text("ip", {"-j", "addr", "show"}), {}));
}

std::vector<RouteEntry> parse_routes_json(std::string_view json, const NameToIndex& names,
                                          uint16_t family) {
  if (names.empty()) return {};
  auto doc = json_fields::parse_lenient(json);
  if (doc.is_discarded() || !doc.is_array()) return {};
  std::vector<RouteEntry> out;
  for (const auto& e : doc) {
    if (!e.is_object()) continue;
    auto dev = names.find(text_field(e, "dev"));
    if (dev == names.end()) continue;
    RouteEntry r;
    set_destination(text_field(e, "dst"), family, r);
    r.gateway = text_field(e, "gateway");
    r.if_index = dev->second;
    r.metric = uint_field<uint32_t>(e, "metric").value_or(0);
    r.family = family;
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<RouteEntry> read_routes(const NameToIndex& names, uint16_t family) {
  std::vector<std::string> args = family == kFamilyV6
                                      ? std::vector<std::string>{"-j", "-6", "route", "show"}
                                      : std::vector<std::string>{"-j", "route", "show"};
  return parse_routes_json(run_command_text("ip", args), names, family);
}

std::vector<RouteEntry> read_all_routes(const NameToIndex& names) {
  auto routes = read_routes(names, kFamilyV4);
  auto v6 = read_routes(names, kFamilyV6);
  routes.insert(routes.end(), std::make_move_iterator(v6.begin()),
                std::make_move_iterator(v6.end()));
  return routes;
}

std::optional<RouteLookup> parse_route_get(std::string_view output, const NameToIndex& names,
                                           bool ipv6) {
  auto lines = split_lines(output);
  if (lines.empty()) return std::nullopt;
  auto fields = split_ws(trim_view(lines.front()));
  std::optional<std::string_view> dev, via, src;
  for (size_t i = 0; i < fields.size();) {
    auto f = fields[i];
    bool keyed = f == "dev" || f == "via" || f == "src";
    if (!keyed || i + 1 >= fields.size()) {
      ++i;
      continue;
    }
    (f == "dev" ? dev : f == "via" ? via : src) = fields[i + 1];
    i += 2;
  }
  if (!dev) return std::nullopt;
  auto idx = names.find(std::string(*dev));
  if (idx == names.end()) return std::nullopt;
  RouteLookup r;
  r.if_index = idx->second;
  if (via) r.via = std::string(*via);
  if (src) r.source = std::string(*src);
  r.family = ipv6 ? kFamilyV6 : kFamilyV4;
  return r;
}

std::optional<RouteLookup> route_lookup(const std::string& target) {
  // `ip` would read "-..." as an option and "" as a missing argument.
  if (target.empty() || target.front() == '-') return std::nullopt;
  bool v6 = target.find(':') != std::string::npos;
  std::vector<std::string> args = v6 ? std::vector<std::string>{"-6", "route", "get", target}
                                     : std::vector<std::string>{"route", "get", target};
  std::string out = run_command_text("ip", args);
  if (trim_view(out).empty()) return std::nullopt;  // spares the second listing
  return parse_route_get(out, name_to_index(), v6);
}

}  // namespace corvale
