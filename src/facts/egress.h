// The default egress per address family, and the physical carriers that hold
// a default route.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "facts/facts.h"

namespace corvale {

struct EgressFacts {
  std::optional<Adapter> egress_v4_adapter;
  std::optional<RouteEntry> default_route_v4, default_route_v6;
  std::optional<std::string> default_gateway_v4, default_gateway_v6;
};

/// Egress adapter, default routes and gateways from the route table and the
/// kernel's answers for the two Internet targets. Without an answer for a
/// family, the lowest-metric default route of that family is taken.
EgressFacts derive_egress(const std::vector<Adapter>& adapters,
                          const std::vector<RouteEntry>& routes,
                          const std::optional<RouteLookup>& v4,
                          const std::optional<RouteLookup>& v6);

/// Default routes of up adapters judged "Carrier", IPv4 first; each family
/// sorted and without duplicates.
std::vector<PhysicalCandidate> physical_candidates(const Facts& facts);

/// Gateway of the first candidate of `family` that has one.
std::optional<std::string> physical_gateway(const std::vector<PhysicalCandidate>& candidates,
                                            uint16_t family);

}  // namespace corvale
