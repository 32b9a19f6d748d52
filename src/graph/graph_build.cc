// The "graph-build" stage: the finished facts become the entity graph, step
// by step in a fixed order, so that node and edge order are stable.
//
// Choices this build makes where the design leaves them open:
// - Limits: maxDepth 8, maxNodes 160, maxRepeatPerPid 2.
// - The selected IPv4 route enters a tunnel when is_tunnel_interface() says
//   so (assessment "Tunnel" or "SuspectedTunnel"), the same test the report
//   uses; it is a carrier route when the assessment says "Carrier".
// - Layers: source 0, tunnel 1, process cards 2, carriers 3, gateways 4,
//   ISP 5, remote endpoints 6; the interception card sits in lane "evidence".
// - `sel` marks the tunnel card of the selected route and the carrier,
//   gateway and ISP cards of the selected routes.
// - Ids: "gw-{v4|v6}-{ifIndex}-{gateway}", "isp-{v4|v6}-{ifIndex}-{gateway}",
//   "isp-{v4|v6}-{ifIndex}-direct" (a gateway-less carrier has exactly one
//   Internet-side card, so "internet-{}-direct" is not drawn), "remote-{address}",
//   "proc-{pid}-l2" for proxy cores and listener owners, "cfgproxy-{host}-{port}".
// - Alternate default routes hang off "app" with an "alt" edge at 0.45;
//   remote endpoint cards are capped at 12 per chain (the ISP card counts all).
// - Per-edge confidences of the process steps: listener owner of a configured
//   proxy 0.9, local process relation 0.8, live outbound socket 0.8, carrier
//   under a tunnel 0.6, idle-core route candidate 0.4, environment policy 0.9,
//   proxy candidate 0.5 (0.7 when it answered a proxy protocol), portal
//   carrier 0.6.
// - Explicit-policy attribution: the count of configured local proxies whose
//   listener owner was resolved, and the flag "a tunnel carries traffic"
//   (an up tunnel-like adapter, or a core reporting captured connections).
// - Texts naming "Find-NetRoute" name this platform's `ip route get`.
#include <unordered_map>

#include "facts/adapter_assessment.h"
#include "graph/build_context.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {

GraphHooks::GraphHooks(const Environment& e) : env(e.lookup()) {}

BuildContext::BuildContext(const Facts& f, GraphBuilder& builder, const ProbeResults& results,
                           const GraphHooks& h)
    : facts(f),
      b(builder),
      hooks(h),
      pings(results.pings, h.ping),
      dns(results.dns, [&h](const std::string& r) {
        return h.dns ? h.dns(r, kGraphDnsTimeoutMs) : DnsProbeResult{};
      }) {}

const std::vector<BuildContext::SocketRoute>& BuildContext::socket_routes() {
  if (socket_routes_) return *socket_routes_;
  std::unordered_map<std::string, uint32_t> owner;
  for (const auto& a : facts.adapters)
    for (const auto* list : {&a.ipv4_addresses, &a.ipv6_addresses})
      for (const auto& ia : *list) owner.try_emplace(normalize_ip_text(ia.address), a.if_index);
  std::unordered_map<std::string, std::string> normalised;
  auto norm = [&](const std::string& text) -> const std::string& {
    auto [it, fresh] = normalised.try_emplace(text);
    if (fresh) it->second = normalize_ip_text(text);
    return it->second;
  };
  std::vector<SocketRoute> out;
  out.reserve(facts.tcp_sockets.size());
  for (const auto& s : facts.tcp_sockets) {
    SocketRoute r;
    if (auto it = owner.find(norm(s.local_address)); it != owner.end()) r.if_index = it->second;
    r.remote = norm(s.remote_address);
    auto ip = parse_ip(r.remote);
    r.remote_v4 = ip && (ip->is_v4() || ip->is_v4_mapped());
    r.remote_local = !ip || is_loopback_host(r.remote) || is_unspecified_ip(r.remote) ||
                     owner.contains(r.remote) || facts.local_addresses.contains(r.remote);
    out.push_back(std::move(r));
  }
  socket_routes_ = std::move(out);
  return *socket_routes_;
}

const Adapter* BuildContext::adapter(uint32_t if_index) const {
  return find_adapter(facts, if_index);
}

const AdapterAssessment* BuildContext::assessment(uint32_t if_index) const {
  auto it = facts.assessments_by_index.find(if_index);
  return it == facts.assessments_by_index.end() ? nullptr : &it->second;
}

std::string process_label(const Facts& facts, uint32_t pid) {
  return process_name(facts, pid).value_or(fmt::format("PID {}", pid));
}

namespace {

void add_inventory(BuildContext& ctx) {
  const Facts& f = ctx.facts;
  std::vector<NodeItem> rows;
  std::set<uint32_t> seen;
  for (const auto& a : f.adapters) {
    if (!seen.insert(a.if_index).second) continue;
    // "Loopback" is the other platform's adapter name; here lo is type 24.
    if (a.name.find("Loopback") != std::string::npos || a.if_type == kIfTypeLoopback) continue;
    if (f.default_route_v4 && a.if_index == f.default_route_v4->if_index) continue;
    std::string key, state, status;
    if (!a.is_up) {
      key = "adapter", state = "disconnected", status = "DOWN";
    } else if (is_tunnel_interface(f, a.if_index)) {
      key = "tunnel", state = "available tunnel / no selected default route", status = "OK";
    } else {
      key = "adapter(up)", state = "up / no default route", status = "OK";
    }
    std::string meta = fmt::format("{} · ifIndex {}", state, a.if_index);
    if (const AdapterAssessment* as = ctx.assessment(a.if_index);
        as && as->verdict != AdapterVerdict::kUnassessed)
      meta += fmt::format(" · assessed {} {}", verdict_text(as->verdict), as->confidence);
    rows.push_back(
        GraphBuilder::make_item(fmt::format("if-{}", a.if_index), key, a.name, status, meta));
  }
  if (rows.empty()) return;
  auto detail = std::make_shared<ItemDetail>();
  detail->label = "Other adapters";
  detail->sub = "inventory only · not current traffic-path hops";
  detail->kind = "adapter";
  detail->items = std::move(rows);
  NodeItem item = GraphBuilder::make_item("adapter-inventory", "other adapters",
                                          std::to_string(detail->items.size()), "",
                                          "collapsed inventory · not a traffic hop");
  item.detail = std::move(detail);
  ctx.b.add_item("app", std::move(item));
}

// The application's main edge into a selected route's chain: its row on the
// applications card, the chain that `first_hop` draws, then the edge to it.
template <typename Draw>
void add_main_edge(BuildContext& ctx, const std::string& item_id, const std::string& label,
                   const std::string& name, const std::string& meta, const std::string& evidence,
                   Draw first_hop) {
  ctx.b.add_item("app", GraphBuilder::make_item(item_id, label, name, "OK", meta, "out"));
  std::string first = first_hop();
  ctx.b.add_edge("app", item_id, first, 1.0, "main", evidence);
}

void add_selected_v4(BuildContext& ctx) {
  const Facts& f = ctx.facts;
  if (!f.default_route_v4) return;
  const RouteEntry& route = *f.default_route_v4;
  const AdapterAssessment* as = ctx.assessment(route.if_index);
  const std::string name = adapter_label(f, route.if_index);
  const std::string verdict = as ? std::string(verdict_text(as->verdict)) : "";
  if (is_tunnel_interface(f, route.if_index)) {
    ctx.b.add_item("app",
                   GraphBuilder::make_item("default", "default", name, "OK",
                                           fmt::format("selected route · adapter role {}",
                                                       verdict.empty() ? "tunnel-like" : verdict),
                                           "out"));
    std::string tun = add_tunnel_card(ctx, route);
    ctx.b.add_edge("app", "default", tun, 1.0, "main",
                   "OS selected default route (route selection confirmed; adapter role "
                   "separately scored)");
    if (!ctx.tunnel_owners.empty()) {
      const OwnerCandidate& owner = ctx.tunnel_owners.front();
      std::map<uint32_t, int64_t> seen;
      add_capture_trace(ctx, tun, owner.process.pid, 1, seen);
      std::string core = process_card(ctx, owner.process.pid);
      ctx.b.add_edge(tun, "owner", core, owner.confidence,
                     owner.confidence >= 0.8 ? "likely" : "possible", owner.reason);
    }
  } else if (as && as->verdict == AdapterVerdict::kCarrier) {
    add_main_edge(ctx, "default", "default", name, "selected route · assessed carrier",
                  "OS selected default route", [&] { return add_egress_chain(ctx, route, true); });
  } else {
    ctx.b.add_item("app", GraphBuilder::make_item(
                              "default", "OS route", name, "WARN",
                              fmt::format("selected OS route · adapter role {}; not labelled "
                                          "direct/physical",
                                          verdict.empty() ? "unassessed" : verdict)));
  }
}

void add_selected_v6(BuildContext& ctx) {
  const Facts& f = ctx.facts;
  if (!f.default_route_v6) return;
  const RouteEntry& route = *f.default_route_v6;
  const std::string name = adapter_label(f, route.if_index);
  if (f.default_route_v4 && f.default_route_v4->if_index == route.if_index) {
    ctx.b.add_item("app", GraphBuilder::make_item("default-v6", "IPv6 default", name, "OK",
                                                  "same interface as IPv4 selected route"));
    return;
  }
  const AdapterAssessment* as = ctx.assessment(route.if_index);
  if (is_tunnel_interface(f, route.if_index)) {
    add_main_edge(ctx, "default-v6", "IPv6 default", name, "selected IPv6 route",
                  "OS selected IPv6 default route", [&] { return add_tunnel_card(ctx, route); });
  } else if (as && as->verdict == AdapterVerdict::kCarrier) {
    add_main_edge(ctx, "default-v6", "IPv6 default", name, "selected IPv6 route",
                  "OS selected IPv6 default route",
                  [&] { return add_egress_chain(ctx, route, true); });
  } else {
    ctx.b.add_item("app", GraphBuilder::make_item("default-v6", "OS route", name, "WARN",
                                                  "selected IPv6 route · interface type "
                                                  "unclassified"));
  }
}

}  // namespace

void add_egress_routes(BuildContext& ctx) {
  const Facts& f = ctx.facts;
  for (const auto& r : f.routes) {
    if (!is_default_route(r)) continue;
    if ((f.default_route_v4 && r == *f.default_route_v4) ||
        (f.default_route_v6 && r == *f.default_route_v6))
      continue;
    const Adapter* a = ctx.adapter(r.if_index);
    if (!a || !a->is_up || is_tunnel_interface(f, r.if_index)) continue;
    std::string first = add_egress_chain(ctx, r, false);
    bool observed = false;
    if (const GraphNode* n =
            ctx.b.node(fmt::format("isp-{}-{}-{}", family_tag(r.family), r.if_index,
                                   r.gateway.empty() ? "direct" : r.gateway)))
      for (const auto& item : n->items)
        if (item.id == "observed" && item.status == "OK") observed = true;
    ctx.b.add_edge("app", "", first, 0.45, "alt",
                   observed ? "alternate route candidate · observed routed connection"
                            : fmt::format("alternate route candidate · metric {}", r.metric));
  }
}

GraphBuildResult build_graph(const Facts& facts, const ProbeResults& results,
                             const GraphHooks& hooks, GraphLimits limits) {
  GraphBuilder b(limits);
  BuildContext ctx{facts, b, results, hooks};
  b.add_node("app", "Applications", "outbound connections · traffic paths first", "source", "");
  if (GraphNode* n = b.node("app")) n->layer = kLayerSource;
  add_inventory(ctx);
  add_selected_v4(ctx);
  add_selected_v6(ctx);
  add_egress_routes(ctx);
  add_proxy_policy(ctx);
  add_process_relations(ctx);
  add_interception(ctx);
  add_candidates(ctx);
  add_campus(ctx);

  GraphBuildResult r;
  TopologyGraph& g = r.graph;
  b.finish_into(g);
  const InterceptionAssessment& ia = facts.interception;
  g.interception.level = ia.level;
  g.interception.displayLevel = ia.level;
  g.interception.score = round2(ia.score);
  g.interception.signals = ia.signals;
  g.interception.proxyLikeListeners = 0;
  for (const auto& a : facts.proxy_candidates.assessments)
    if (is_proxy_like(a.level)) ++g.interception.proxyLikeListeners;
  std::set<uint32_t> candidate_pids;
  for (const auto& c : facts.proxy_candidates.candidates) candidate_pids.insert(c.pid);
  g.interception.proxyCandidateProcesses = candidate_pids.size();
  g.interception.protocolProxyListeners = ia.protocol_proxy_listeners.size();
  g.interception.protocolProxyProcesses = ia.protocol_proxy_processes.size();
  g.interception.driverHits = facts.driver_hits.size();
  g.interception.serviceHits = facts.service_hits.size();
  g.interception.routeSourceMismatch = facts.route_source.mismatch;

  r.ping_misses = ctx.pings.misses();
  r.dns_misses = ctx.dns.misses();
  return r;
}

}  // namespace corvale
