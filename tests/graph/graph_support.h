// Facts for the graph tests, rebuilt from the lab's real captures
// (tests/data/captures/SCENARIO) with the Linux parsers, plus the probe
// outcomes a scenario's run gave.
#pragma once

#include <map>
#include <string>

#include "facts/adapter_assessment.h"
#include "graph/graph.h"
#include "support/captured_host.h"

namespace corvale::testing {

/// The host facts of one scenario; every probe answered unless told otherwise.
inline Facts captured_host(const std::string& scenario, bool probes_ok = true) {
  Facts f = captured_host_facts(scenario);
  for (const auto& r : f.routes)
    if (is_default_route(r) && has_conventional_gateway(r))
      f.gateway_probes.push_back({pingable_gateway(r), r.if_index, r.family, probes_ok});
  f.internet_probes.v4 = probes_ok ? PingResult{true, 1} : PingResult{};
  f.internet_probes.v6 = probes_ok ? PingResult{true, 1} : PingResult{};
  return f;
}

/// Probe results holding every host the driver's pre-warm asks for.
inline ProbeResults warm_caches(const Facts& f, bool ok = true) {
  ProbeResults c;
  for (const auto& r : f.routes)
    if (is_default_route(r) && has_conventional_gateway(r))
      c.pings[pingable_gateway(r)] = ok ? PingResult{true, 1} : PingResult{};
  for (const char* h :
       {"223.5.5.5", "2400:3200::1", "10.0.0.55", "10.0.0.54", "10.0.32.32", "10.0.32.33"})
    c.pings[h] = ok ? PingResult{true, 1} : PingResult{};
  for (const auto& a : f.adapters)
    for (const auto& s : a.dns_servers)
      c.dns[s] = ok ? DnsProbeResult{"203.0.113.80", 3, true} : DnsProbeResult{};
  for (const char* r : {"10.0.32.32", "10.0.32.33"})
    c.dns[r] = ok ? DnsProbeResult{"203.0.113.80", 3, true} : DnsProbeResult{};
  return c;
}

/// Hooks that never touch the network: every live probe fails and is counted;
/// the environment is the snapshot in `env`.
struct CountingHooks {
  size_t pings = 0, lookups = 0;
  Environment env;
  GraphHooks hooks() {
    GraphHooks h(env);
    h.ping = [this](const std::string&) {
      ++pings;
      return PingResult{};
    };
    h.dns = [this](const std::string&, uint64_t) {
      ++lookups;
      return DnsProbeResult{};
    };
    return h;
  }
};

inline const GraphNode* find_node(const TopologyGraph& g, const std::string& id) {
  for (const auto& n : g.nodes)
    if (n.id == id) return &n;
  return nullptr;
}

inline const NodeItem* find_item(const GraphNode* n, const std::string& id) {
  if (!n) return nullptr;
  for (const auto& i : n->items)
    if (i.id == id) return &i;
  return nullptr;
}

inline const GraphEdge* find_edge(const TopologyGraph& g, const std::string& from,
                                  const std::string& to) {
  for (const auto& e : g.edges)
    if (e.from == from && e.to == to) return &e;
  return nullptr;
}

}  // namespace corvale::testing
