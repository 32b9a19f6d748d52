#include "facts/egress.h"

#include <algorithm>

#include "facts/adapter_assessment.h"
#include "facts/policy_routing.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

std::optional<RouteEntry> default_route_of(const std::vector<RouteEntry>& routes, uint16_t family,
                                           const std::optional<RouteLookup>& lookup) {
  if (lookup) {
    for (const auto& r : routes) {
      if (r.family != family || !is_default_route(r) || r.if_index != lookup->if_index) continue;
      if (!lookup->via || normalize_ip_text(r.gateway) == normalize_ip_text(*lookup->via)) return r;
    }
    return std::nullopt;
  }
  // No kernel answer: the route the rules and then the metric prefer; stable
  // on ties.
  const RouteEntry* best = nullptr;
  for (const auto& r : routes) {
    if (r.family != family || !is_default_route(r)) continue;
    if (best == nullptr || route_preferred(r, *best)) best = &r;
  }
  if (best == nullptr) return std::nullopt;
  return *best;
}

std::optional<std::string> gateway_of(const std::optional<RouteEntry>& route) {
  if (!route || !has_conventional_gateway(*route)) return std::nullopt;
  return route->gateway;
}

}  // namespace

EgressFacts derive_egress(const std::vector<Adapter>& adapters,
                          const std::vector<RouteEntry>& routes,
                          const std::optional<RouteLookup>& v4,
                          const std::optional<RouteLookup>& v6) {
  EgressFacts e;
  if (v4) {
    for (const auto& a : adapters) {
      if (a.if_index == v4->if_index) {
        e.egress_v4_adapter = a;
        break;
      }
    }
  }
  e.default_route_v4 = default_route_of(routes, kFamilyV4, v4);
  e.default_route_v6 = default_route_of(routes, kFamilyV6, v6);
  e.default_gateway_v4 = gateway_of(e.default_route_v4);
  e.default_gateway_v6 = gateway_of(e.default_route_v6);
  return e;
}

std::vector<PhysicalCandidate> physical_candidates(const Facts& facts) {
  std::vector<PhysicalCandidate> out;
  for (uint16_t family : {kFamilyV4, kFamilyV6}) {
    std::vector<PhysicalCandidate> group;
    for (const auto& r : facts.routes) {
      if (r.family != family || !is_default_route(r)) continue;
      auto adapter = std::find_if(facts.adapters.begin(), facts.adapters.end(),
                                  [&](const Adapter& a) { return a.if_index == r.if_index; });
      if (adapter == facts.adapters.end() || !adapter->is_up) continue;
      auto assessment = facts.assessments_by_index.find(r.if_index);
      if (assessment == facts.assessments_by_index.end() ||
          assessment->second.verdict != AdapterVerdict::kCarrier)
        continue;
      PhysicalCandidate c;
      c.if_index = r.if_index;
      c.adapter = adapter->name;
      c.gateway = has_conventional_gateway(r) ? r.gateway : std::string();
      c.dns = join(adapter->dns_servers, ", ");
      c.family = family;
      group.push_back(std::move(c));
    }
    std::sort(group.begin(), group.end());
    group.erase(std::unique(group.begin(), group.end()), group.end());
    out.insert(out.end(), group.begin(), group.end());
  }
  return out;
}

std::optional<std::string> physical_gateway(const std::vector<PhysicalCandidate>& candidates,
                                            uint16_t family) {
  for (const auto& c : candidates)
    if (c.family == family && !c.gateway.empty()) return c.gateway;
  return std::nullopt;
}

}  // namespace corvale
