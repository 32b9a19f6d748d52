// Diagnosis rules about routing as the kernel does it: local container and
// VM networks that capture addresses we probe, and policy rules left behind.
#include <fmt/format.h>

#include <algorithm>

#include "facts/adapter_assessment.h"
#include "facts/findings_rules.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale::diagnosis {
namespace {

// Bridges and virtual links that container and VM managers create on the
// host; their subnets (Docker's 172.17.0.0/16, LXD's, libvirt's) often
// collide with campus networks.
bool is_local_virtual_network(const Adapter& a) {
  if (a.link_kind == "bridge" || a.link_kind == "veth" || a.link_kind == "dummy") return true;
  std::string n = to_lower(a.name);
  for (std::string_view p : {"docker", "br-", "virbr", "lxdbr", "vboxnet", "vmnet"})
    if (n.starts_with(p)) return true;
  return false;
}

bool holds_default_route(const Facts& f, uint32_t if_index) {
  return std::any_of(f.routes.begin(), f.routes.end(), [&](const RouteEntry& r) {
    return r.if_index == if_index && is_default_route(r);
  });
}

bool in_prefix(const IpAddress& a, const IpAddress& net, uint8_t len) {
  if (a.family != net.family || len > (a.is_v4() ? 32 : 128)) return false;
  for (uint8_t bit = 0; bit < len; ++bit) {
    uint8_t mask = static_cast<uint8_t>(0x80u >> (bit % 8));
    if ((a.bytes[bit / 8] & mask) != (net.bytes[bit / 8] & mask)) return false;
  }
  return true;
}

// The narrowest route of `if_index` that holds `address`, as "A/N"; empty
// when none does.
std::string subnet_of(const Facts& f, const std::string& address, uint32_t if_index) {
  auto a = parse_ip(address);
  const RouteEntry* best = nullptr;
  for (const auto& r : f.routes) {
    auto net = parse_ip(r.destination);
    if (!a || !net || r.if_index != if_index || !in_prefix(*a, *net, r.prefix_length)) continue;
    if (!best || r.prefix_length > best->prefix_length) best = &r;
  }
  return best ? fmt::format("{}/{}", best->destination, best->prefix_length) : "";
}

const RouteLookup* route_of(const Facts& f, const std::string& address) {
  if (address == kInternetTargetV4 && f.egress_v4) return &*f.egress_v4;
  if (address == kInternetTargetV6 && f.egress_v6) return &*f.egress_v6;
  for (const auto* routes : {&f.campus_routes, &f.resolver_routes})
    if (auto it = routes->find(address); it != routes->end()) return &it->second;
  return nullptr;
}

const Adapter* capturing_adapter(const Facts& f, const std::string& address) {
  const RouteLookup* r = route_of(f, address);
  if (!r || holds_default_route(f, r->if_index)) return nullptr;
  for (const auto& a : f.adapters)
    if (a.if_index == r->if_index && is_local_virtual_network(a)) return &a;
  return nullptr;
}

// Every address we probe, named by its role, each once.
std::vector<std::pair<std::string, Phrase>> probed_addresses(const Context& c) {
  const Facts& f = c.f;
  std::vector<std::pair<std::string, Phrase>> out;
  auto add = [&out](const std::string& address, Phrase role) {
    for (const auto& [a, r] : out)
      if (a == address) return;
    out.emplace_back(address, std::move(role));
  };
  // The collect stage lists the campus hosts portal, resolver, resolver, API.
  const Phrase campus_roles[] = {c.phrase("the campus portal"), c.phrase("campus DNS server"),
                                 c.phrase("campus DNS server"), c.phrase("the campus API")};
  const auto& reach = f.campus_probes.reachability;
  for (size_t i = 0; i < reach.size() && i < 4; ++i) add(reach[i].host, campus_roles[i]);
  for (const auto& [address, lookup] : f.resolver_routes) add(address, c.phrase("DNS server"));
  add(kInternetTargetV4, c.phrase("the Internet target"));
  add(kInternetTargetV6, c.phrase("the Internet target"));
  return out;
}

}  // namespace

bool captured_locally(const Facts& f, const std::string& address) {
  return capturing_adapter(f, address) != nullptr;
}

std::string leftover_route_removal(const Facts& f, const Adapter& tunnel) {
  std::vector<std::string> steps;
  for (const auto& r : f.routes) {
    if (r.if_index != tunnel.if_index || !is_default_route(r)) continue;
    std::string cmd =
        fmt::format("ip {}route del default dev {}{}", r.family == kFamilyV6 ? "-6 " : "",
                    tunnel.name, r.table.empty() ? "" : " table " + r.table);
    if (std::find(steps.begin(), steps.end(), cmd) == steps.end()) steps.push_back(cmd);
    for (const auto& rule : f.policy_rules) {
      if (r.table.empty() || rule.table != r.table || rule.family != r.family) continue;
      std::string del = fmt::format("ip {}rule del priority {}",
                                    rule.family == kFamilyV6 ? "-6 " : "", rule.priority);
      if (std::find(steps.begin(), steps.end(), del) == steps.end()) steps.push_back(del);
    }
  }
  if (steps.empty()) steps.push_back(fmt::format("ip route del default dev {}", tunnel.name));
  return join(steps, "; ");
}

std::optional<Draft> local_route_capture(const Context& c) {
  const Facts& f = c.f;
  std::vector<std::string> lines;
  Draft d;
  for (const auto& [address, role] : probed_addresses(c)) {
    const Adapter* a = capturing_adapter(f, address);
    if (!a) continue;
    std::string subnet = subnet_of(f, address, a->if_index);
    d.evidence.push_back(fmt::format("route to {}: dev {} ({}{})", address, a->name,
                                     subnet.empty() ? "its subnet" : subnet,
                                     a->link_kind.empty() ? "" : ", " + a->link_kind));
    if (d.text().empty()) {
      d.say(c,
            "{} ({}) is routed into {}, a local container or VM network ({}), instead of the "
            "network: it cannot be reached from this host. Remove or re-address that network "
            "(for Docker, choose other ranges with \"default-address-pools\" in "
            "/etc/docker/daemon.json).",
            address, role, a->name,
            subnet.empty() ? c.phrase("its subnet") : Phrase{subnet, subnet});
    }
  }
  if (d.text().empty()) return std::nullopt;
  if (d.evidence.size() > 1)
    d.say_more(c, " It captures {} probed addresses in all.", d.evidence.size());
  return d;
}

std::optional<Draft> policy_rule_empty_table(const Context& c) {
  std::vector<const PolicyRule*> empty;
  for (const auto& r : c.f.policy_rules)
    if (r.action.empty() && r.table_routes == 0 && r.table != "local" && r.table != "main" &&
        r.table != "default" && !r.table.empty())
      empty.push_back(&r);
  if (empty.empty()) return std::nullopt;
  Draft d;
  std::vector<std::string> dels;
  for (const PolicyRule* r : empty) {
    std::string fam = r->family == kFamilyV6 ? "-6 " : "";
    dels.push_back(fmt::format("ip {}rule del priority {}", fam, r->priority));
    d.evidence.push_back(fmt::format("{}rule {}: lookup {} (no routes)",
                                     r->family == kFamilyV6 ? "IPv6 " : "", r->priority, r->table));
  }
  d.say(c,
        "Policy rule {} names table {}, which holds no routes: traffic falls through to the main "
        "table. A tunnel that stopped probably left it behind; remove it ({}).",
        empty[0]->priority, empty[0]->table, join(dels, "; "));
  return d;
}

}  // namespace corvale::diagnosis
