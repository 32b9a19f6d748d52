// The rules about the link, the gateway, the Internet and the route the
// kernel takes; and the all-clear that closes the table.
#include <fmt/format.h>

#include <algorithm>

#include "facts/adapter_assessment.h"
#include "facts/findings_rules.h"
#include "facts/lookup.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale::diagnosis {

std::optional<Draft> no_link_up(const Context& c) {
  if (c.f.adapters.empty() || !links_up(c.f).empty()) return std::nullopt;
  Draft d;
  std::vector<std::string> down;
  for (const auto& a : c.f.adapters)
    if (!is_loopback_adapter(a)) down.push_back(a.name);
  if (down.empty())
    d.say(c,
          "No network adapter besides loopback exists: this host has no network link. Connect a "
          "cable or a Wi-Fi adapter.");
  else
    d.say(c,
          "No network adapter is up ({} down): this host has no network link. Plug in the cable "
          "or connect to Wi-Fi.",
          join(down, ", "));
  for (const auto& a : c.f.adapters)
    d.evidence.push_back(fmt::format("adapter {}: {}", a.name, a.is_up ? "up" : "down"));
  return d;
}

std::optional<Draft> no_default_route(const Context& c) {
  auto up = links_up(c.f);
  if (up.empty() || first_default(c.f, kFamilyV4)) return std::nullopt;
  Draft d;
  d.say(c,
        "No IPv4 default route, although {} is up: the host knows no way to the Internet. Renew "
        "the DHCP lease of {} or check its network settings.",
        up[0]->name, up[0]->name);
  d.evidence = {fmt::format("adapter {}: up", up[0]->name), "routes: no IPv4 default route"};
  if (const RouteEntry* v6 = first_default(c.f, kFamilyV6))
    d.evidence.push_back(fmt::format("IPv6 default route via {} ({})", v6->gateway,
                                     adapter_label(c.f, v6->if_index)));
  return d;
}

std::optional<Draft> gateway_silent(const Context& c) {
  const GatewayProbe* g = silent_gateway(c.f, kFamilyV4);
  if (!g || c.f.internet_probes.v4.ok) return std::nullopt;
  Draft d;
  bool campus = campus_all_silent(c.f);
  if (campus)
    d.say(c,
          "Gateway {} ({}) does not answer; the Internet and the campus are unreachable. Check "
          "the cable / Wi-Fi association.",
          gateway_shown(*g), adapter_label(c.f, g->if_index));
  else
    d.say(c,
          "Gateway {} ({}) does not answer; the Internet is unreachable. Check the cable / Wi-Fi "
          "association.",
          gateway_shown(*g), adapter_label(c.f, g->if_index));
  d.evidence = {fmt::format("adapter {}: up", adapter_label(c.f, g->if_index)),
                gateway_evidence(c.f, *g), internet_evidence(c.f, kFamilyV4)};
  if (const GatewayProbe* g6 = silent_gateway(c.f, kFamilyV6))
    d.evidence.push_back(gateway_evidence(c.f, *g6));
  if (campus) d.evidence.push_back("campus hosts: no answer");
  return d;
}

std::optional<Draft> gateway_ignores_ping(const Context& c) {
  for (uint16_t family : {kFamilyV4, kFamilyV6}) {
    const GatewayProbe* g = silent_gateway(c.f, family);
    bool internet = family == kFamilyV4 ? c.f.internet_probes.v4.ok : c.f.internet_probes.v6.ok;
    if (!g || !internet) continue;
    Draft d;
    d.say(c,
          "Gateway {} ({}) does not answer ping, but the Internet does: the gateway only ignores "
          "ping.",
          gateway_shown(*g), adapter_label(c.f, g->if_index));
    d.evidence = {gateway_evidence(c.f, *g), internet_evidence(c.f, family)};
    return d;
  }
  return std::nullopt;
}

std::optional<Draft> internet_silent(const Context& c) {
  const Facts& f = c.f;
  const RouteEntry* r = egress_default_v4(f);
  if (f.internet_probes.v4.ok || !r || egress_tunnel(f) || silent_gateway(f, kFamilyV4) ||
      c.fired("campus-logged-out") || captured_locally(f, kInternetTargetV4))
    return std::nullopt;
  const Adapter* a = find_adapter(f, r->if_index);
  if (!a || !a->is_up) return std::nullopt;
  Draft d;
  const GatewayProbe* g = answering_gateway(f, kFamilyV4);
  if (g)
    d.say(c,
          "Gateway {} ({}) answers, but the Internet ({}) does not: the fault is beyond the "
          "gateway. Check whether the network wants a log-in, or ask its admin.",
          gateway_shown(*g), a->name, kInternetTargetV4);
  else
    d.say(c,
          "The Internet ({}) does not answer through {}. Check the link's settings, or ask the "
          "network's admin.",
          kInternetTargetV4, a->name);
  if (g) d.evidence.push_back(gateway_evidence(f, *g));
  d.evidence.push_back(internet_evidence(f, kFamilyV4));
  return d;
}

std::optional<Draft> ipv6_broken(const Context& c) {
  const Facts& f = c.f;
  const RouteEntry* r = first_default(f, kFamilyV6);
  if (!r || f.internet_probes.v6.ok || !f.internet_probes.v4.ok) return std::nullopt;
  std::string name = adapter_label(f, r->if_index);
  Draft d;
  d.say(c,
        "IPv6 has a default route via {} ({}), but {} does not answer over IPv6 while IPv4 works: "
        "programs that try IPv6 first may stall. Ask the network's admin to fix IPv6, or turn "
        "IPv6 off on {}.",
        r->gateway.empty() ? c.phrase("no gateway") : Phrase{r->gateway, r->gateway}, name,
        kInternetTargetV6, name);
  d.evidence = {fmt::format("IPv6 default route via {} ({})", r->gateway, name),
                internet_evidence(f, kFamilyV6), internet_evidence(f, kFamilyV4)};
  if (const GatewayProbe* g = silent_gateway(f, kFamilyV6))
    d.evidence.push_back(gateway_evidence(f, *g));
  return d;
}

std::optional<Draft> route_source_mismatch(const Context& c) {
  const RouteSourceProbe& r = c.f.route_source;
  if (!r.mismatch) return std::nullopt;
  Draft d;
  d.say(c,
        "A test connection left from {} ({}), but the route table sends it through {}: a proxy "
        "core or policy routing redirects traffic.",
        r.source_address, adapter_label(c.f, r.socket_if_index),
        adapter_label(c.f, r.route_if_index));
  d.evidence = {fmt::format("route lookup: {}", adapter_label(c.f, r.route_if_index)),
                fmt::format("socket source {} on {}", r.source_address,
                            adapter_label(c.f, r.socket_if_index))};
  return d;
}

std::optional<Draft> all_clear(const Context& c) {
  for (const auto& x : c.found)
    if (x.severity == Severity::kProblem || x.severity == Severity::kWarning) return std::nullopt;
  const Facts& f = c.f;
  std::vector<Phrase> parts;
  if (!links_up(f).empty()) parts.push_back(c.phrase("link"));
  if (!f.gateway_probes.empty() && std::all_of(f.gateway_probes.begin(), f.gateway_probes.end(),
                                               [](const GatewayProbe& g) { return g.ok; }))
    parts.push_back(c.phrase("gateway"));
  auto probed = probed_resolvers(c);
  if (std::any_of(probed.begin(), probed.end(), [](const auto& p) { return p.second; }))
    parts.push_back(c.phrase("DNS"));
  if (f.internet_probes.v4.ok) parts.push_back(c.phrase("Internet"));
  if (f.campus_probes.portal_ok) parts.push_back(c.phrase("campus portal"));
  Phrase answers, interception;
  if (parts.size() == 1) answers = c.phrase(": {} answers", parts[0]);
  if (parts.size() > 1) answers = c.phrase(": {} answer", list_phrase(c, parts));
  if (effective_level(c) == InterceptionLevel::kNone) interception = c.phrase("; no interception");
  Draft d;
  d.say(c, "No problem found{}{}.", answers, interception);
  for (const auto& g : f.gateway_probes) d.evidence.push_back(gateway_evidence(f, g));
  for (const auto& e : resolver_evidence(c)) d.evidence.push_back(e);
  d.evidence.push_back(internet_evidence(f, kFamilyV4));
  d.evidence.push_back(internet_evidence(f, kFamilyV6));
  d.evidence.push_back(fmt::format("interception level: {}", level_text(effective_level(c))));
  return d;
}

}  // namespace corvale::diagnosis
