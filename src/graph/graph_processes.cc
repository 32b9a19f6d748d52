// Steps of the graph build about processes: proxy policy, configured proxies
// and their listener owners, local relations, per-process egress, the tunnel
// capture trace, interception evidence and proxy candidates.
#include <algorithm>
#include <set>

#include "facts/adapter_assessment.h"
#include "facts/desktop_proxy.h"
#include "facts/policy_routing.h"
#include "facts/probe_targets.h"
#include "facts/proxy_candidates.h"
#include "facts/proxy_settings.h"
#include "graph/build_context.h"
#include "util/ip.h"
#include "util/regex.h"
#include "util/text.h"

namespace corvale {

namespace {

using B = GraphBuilder;

const CoreControllerInfo* core_of(const Facts& facts, uint32_t pid) {
  for (const auto& c : facts.core_infos)
    if (c.pid == pid) return &c;
  return nullptr;
}

void add_listener_rows(BuildContext& ctx, const std::string& card, uint32_t pid) {
  size_t shown = 0, total = 0;
  for (const auto& l : ctx.facts.tcp_listeners) {
    if (l.pid != pid) continue;
    if (++total > kMaxListenerRows) continue;
    ++shown;
    std::string protocol;
    for (const auto& a : ctx.facts.proxy_candidates.assessments)
      if (a.pid == pid && a.port == l.local_port && a.host == l.local_address)
        protocol = protocol_text(a.protocol);
    ctx.b.add_item(card, B::make_item(fmt::format("listen-{}-{}", l.local_address, l.local_port),
                                      "listen", fmt::format("{}:{}", l.local_address, l.local_port),
                                      protocol.empty() ? "" : "OK",
                                      protocol.empty() ? "TCP listener" : protocol));
  }
  if (total > kMaxListenerRows)
    ctx.b.add_item(card, B::make_item("listen-more", "listeners",
                                      fmt::format("{} additional listeners", total - shown), "",
                                      "visual detail capped; full inventory remains in report "
                                      "table"));
  shown = total = 0;
  for (const auto& u : ctx.facts.udp_sockets) {
    if (u.pid != pid) continue;
    if (++total > kMaxUdpRows) continue;
    ++shown;
    ctx.b.add_item(
        card, B::make_item(fmt::format("udp-{}-{}", u.local_address, u.local_port), "udp",
                           fmt::format("{}:{}", u.local_address, u.local_port), "", "UDP binding"));
  }
  if (total > kMaxUdpRows)
    ctx.b.add_item(card, B::make_item("udp-more", "udp",
                                      fmt::format("{} additional bindings", total - shown), "",
                                      "visual detail capped; full inventory remains in report "
                                      "table"));
}

// Step 10: the route a proxy core or candidate process leaves by.
void add_process_egress(BuildContext& ctx, const std::string& card, uint32_t pid) {
  const Facts& f = ctx.facts;
  std::map<uint32_t, size_t> by_interface;
  const auto& routes = ctx.socket_routes();
  for (size_t i = 0; i < routes.size(); ++i) {
    const SocketEntry& s = f.tcp_sockets[i];
    if (s.pid != pid || s.state != kTcpEstablished || routes[i].remote_local) continue;
    if (routes[i].if_index != 0) ++by_interface[routes[i].if_index];
  }
  for (const auto& [if_index, count] : by_interface) {
    const Adapter* a = ctx.adapter(if_index);
    std::string row = fmt::format("route-v4-{}-{}", if_index, pid);
    if (is_tunnel_interface(f, if_index)) {
      ctx.b.add_item(card, B::make_item(row, "TUN", a->name, "OK",
                                        fmt::format("process socket · {} live", count), "out"));
      ctx.b.add_edge(card, row, fmt::format("tun-{}-l{}", if_index, kLayerTunnel), 0.8, "likely",
                     "live established socket + local source/interface");
      continue;
    }
    ctx.b.add_item(card, B::make_item(row, "carrier", a->name, "OK",
                                      fmt::format("process socket · {} live", count), "out"));
    std::string target = fmt::format("nic-{}", if_index);
    for (const auto& r : f.routes)
      if (r.if_index == if_index && is_default_route(r)) {
        target = add_egress_chain(ctx, r, f.default_route_v4 && r == *f.default_route_v4);
        break;
      }
    ctx.b.add_edge(card, row, target, 0.8, "likely",
                   "live established socket + local source/interface");
  }
  if (!by_interface.empty()) return;

  const RouteEntry* carrier = carrier_route(ctx, kFamilyV4);
  if (f.default_route_v4 && is_tunnel_interface(f, f.default_route_v4->if_index)) {
    if (!carrier) return;
    std::string row = fmt::format("route-v4-{}-{}", carrier->if_index, pid);
    const Adapter* a = ctx.adapter(carrier->if_index);
    ctx.b.add_item(card, B::make_item(row, "carrier", a ? a->name : "", "",
                                      "target route enters TUN; viable underlying carrier "
                                      "candidate",
                                      "out"));
    std::string first = add_egress_chain(ctx, *carrier, false);
    ctx.b.add_edge(card, row, first, 0.6, "likely",
                   "target route enters TUN; viable underlying carrier candidate");
    return;
  }
  if (!carrier) {
    ctx.b.add_item(
        card, B::make_item("route", "route", "OS default only", "", "system default route only"));
    return;
  }
  std::string idle = fmt::format("idle-route-{}", pid);
  ctx.b.add_item(card, B::make_item(idle, "egress", "idle core: viable route candidate only", "",
                                    "no live outbound socket", "out"));
  ctx.b.add_node(idle, "Route candidate", "idle core: viable route candidate only", "core", "");
  if (GraphNode* n = ctx.b.node(idle)) n->layer = kLayerCore;
  ctx.b.add_item(idle, B::make_item("route", "route",
                                    fmt::format("possible · metric {} · no live outbound socket",
                                                carrier->metric)));
  ctx.b.add_edge(card, idle, idle, 0.4, "possible", "idle core: viable route candidate only");
  std::string first =
      add_egress_chain(ctx, *carrier, f.default_route_v4 && *carrier == *f.default_route_v4);
  ctx.b.add_edge(idle, "", first, 0.4, "possible", "system default route only");
  for (const auto& r : f.routes) {
    if (!is_default_route(r) || &r == carrier) continue;
    const Adapter* a = ctx.adapter(r.if_index);
    if (!a || !a->is_up) continue;
    bool v6 = r.family == kFamilyV6;
    bool selected6 = v6 && f.default_route_v6 && r == *f.default_route_v6;
    std::string row = v6 ? fmt::format("route6-{}-{}", r.if_index, r.metric)
                         : fmt::format("alt-{}-{}", r.if_index, r.metric);
    ctx.b.add_item(card, B::make_item(row, v6 ? "route6(alt)" : "route(alt)", a->name, "",
                                      selected6 ? "selected IPv6 default route"
                                      : v6      ? fmt::format("UP IPv6 default-route candidate · "
                                                                   "effective metric {}",
                                                              r.metric)
                                           : fmt::format("UP default-route candidate · effective "
                                                         "metric {}",
                                                         r.metric)));
  }
}

// Rows for the proxy variables in the environment; values never keep credentials.
void add_env_policy(BuildContext& ctx, std::vector<NodeItem>& rows) {
  if (!ctx.hooks.env) return;
  for (bool lower : {false, true})
    for (const char* upper : kProxyVariables) {
      std::string var = lower ? to_lower(upper) : std::string(upper);
      auto value = ctx.hooks.env(var.c_str());
      if (!value || trim_view(*value).empty()) continue;
      rows.push_back(B::make_item("ENV:" + var, var, redact_proxy_credentials(*value), "",
                                  "environment proxy policy", "out"));
    }
  for (const char* var : {"NO_PROXY", "no_proxy"}) {
    auto value = ctx.hooks.env(var);
    if (!value || trim_view(*value).empty()) continue;
    rows.push_back(B::make_item("proxy-bypass", var, "environment bypass list", "",
                                redact_proxy_credentials(*value)));
  }
}

}  // namespace

const RouteEntry* carrier_route(const BuildContext& ctx, uint16_t family) {
  const RouteEntry* best = nullptr;
  for (const auto& r : ctx.facts.routes) {
    if (r.family != family || !is_default_route(r)) continue;
    const Adapter* a = ctx.adapter(r.if_index);
    if (!a || !a->is_up || is_tunnel_interface(ctx.facts, r.if_index)) continue;
    if (!best || route_preferred(r, *best)) best = &r;
  }
  return best;
}

std::string process_card(BuildContext& ctx, uint32_t pid) {
  if (auto it = ctx.process_cards.find(pid); it != ctx.process_cards.end()) return it->second;
  std::string id = fmt::format("proc-{}-l{}", pid, kLayerCore);
  ctx.process_cards.emplace(pid, id);
  std::string name = process_label(ctx.facts, pid);
  const CoreControllerInfo* core = core_of(ctx.facts, pid);
  bool is_core = is_capture_process(name) || core;
  ctx.b.add_node(
      id, name,
      fmt::format("{} · PID {} · merged by entity", is_core ? "proxy core" : "listener owner", pid),
      "core", is_core ? "OK" : "");
  if (GraphNode* n = ctx.b.node(id)) {
    n->processId = pid;
    n->layer = kLayerCore;
  }
  if (core)
    ctx.b.add_item(
        id, B::make_item("api", "controller", core->selected_controller.value_or("not answered"),
                         core->selected_controller ? "OK" : "WARN",
                         core->version.empty() ? "runtime API" : "runtime API " + core->version));
  add_listener_rows(ctx, id, pid);
  add_process_egress(ctx, id, pid);
  return id;
}

void add_proxy_policy(BuildContext& ctx) {
  const Facts& f = ctx.facts;
  const std::string policy = "policy-env";
  std::vector<NodeItem> rows;
  add_env_policy(ctx, rows);
  // The desktop's system proxy is a policy the same way: programs that follow it use it.
  if (const ProxySettings& s = f.proxy_settings; !s.desktop.empty() && s.proxy_enabled)
    rows.push_back(B::make_item("policy-" + system_proxy_source(s), system_proxy_source(s),
                                redact_proxy_credentials(s.proxy_server), "",
                                "desktop system proxy policy", "out"));

  // Configured endpoints, each host and port once.
  std::vector<ProxyEndpoint> endpoints;
  for (const auto& e : f.proxy_settings.endpoints) {
    std::string host = normalize_ip_text(e.host);
    bool dup = std::any_of(endpoints.begin(), endpoints.end(), [&](const ProxyEndpoint& x) {
      return x.port == e.port && normalize_ip_text(x.host) == host;
    });
    if (!dup) endpoints.push_back(e);
  }
  if (rows.empty() && endpoints.empty()) return;

  bool tunnel = f.default_route_v4 && is_tunnel_interface(f, f.default_route_v4->if_index);
  ctx.b.add_node(policy, "Proxy policy",
                 "explicit application proxy policy · application dependent", "core", "");
  if (GraphNode* n = ctx.b.node(policy)) n->layer = kLayerTunnel;
  for (auto& r : rows) ctx.b.add_item(policy, std::move(r));
  ctx.b.add_edge("app", "", policy, 0.9, "policy", "application proxy policy settings");

  for (const auto& e : endpoints) {
    std::string from_row =
        ctx.b.has_item(policy, "ENV:" + e.source) ? "ENV:" + e.source : "policy-" + e.source;
    if (!ctx.b.has_item(policy, from_row))
      ctx.b.add_item(
          policy, B::make_item(from_row, "source", e.source, "", "configured proxy policy", "out"));
    std::string where = fmt::format("{}:{}", e.host, e.port);
    if (!is_local_host(f, e.host)) {
      std::string id = fmt::format("cfgproxy-{}-{}", e.host, e.port);
      ctx.b.add_node(id, "Configured Proxy", "remote policy endpoint · application dependent",
                     "core", "");
      ctx.b.add_item(id, B::make_item("endpoint", e.scheme.empty() ? "proxy" : e.scheme, where, "",
                                      "configured remote endpoint · not actively probed", "addr"));
      ctx.b.add_edge(policy, from_row, id, 0.9, "policy", "application proxy policy entry");
      continue;
    }
    const SocketEntry* listener = accepting_listener(f, e.host, e.port);
    if (!listener) {
      std::string id = fmt::format("cfgproxy-dead-{}-{}", e.host, e.port);
      ctx.b.add_node(id, "Configured Proxy", "configured local endpoint has no TCP listener",
                     "core", "FAIL");
      ctx.b.add_item(id,
                     B::make_item("endpoint", e.scheme.empty() ? "proxy" : e.scheme, where, "FAIL",
                                  "configured local endpoint has no TCP listener", "addr"));
      ctx.b.add_item(id, B::make_item("source", "source", e.source));
      ctx.b.add_edge(policy, from_row, id, 0.9, "policy", "application proxy policy entry", true);
      continue;
    }
    std::string id = fmt::format("cfgproxy-{}-{}", e.host, e.port);
    std::string owner = process_label(f, listener->pid);
    std::string evidence = fmt::format("{} configured endpoint + listener owner", e.source);
    ctx.b.add_node(id, "Configured Proxy",
                   fmt::format("{} · configured local endpoint; listener owner resolved", where),
                   "core", "OK");
    if (GraphNode* n = ctx.b.node(id)) n->layer = kLayerTunnel;
    ctx.b.add_item(id, B::make_item("endpoint", e.scheme.empty() ? "proxy" : e.scheme, where, "OK",
                                    "", "addr"));
    ctx.b.add_item(id, B::make_item("source", "source", e.source));
    ctx.b.add_item(id, B::make_item("owner", "listener owner",
                                    fmt::format("{} · PID {}", owner, listener->pid), "OK",
                                    "live local TCP + listener owner fallback", "out"));
    ctx.b.add_edge(policy, from_row, id, 0.9, "policy", "application proxy policy entry");
    if (listener->pid != 0) {
      std::string card = process_card(ctx, listener->pid);
      ctx.b.add_edge(id, "owner", card, 0.9, "policy", evidence);
    }
  }
  ctx.b.add_item(policy,
                 B::make_item("direct", "direct/bypass",
                              tunnel ? "direct/non-policy branch · local proxy process may itself "
                                       "egress through this tunnel"
                                     : "direct/bypass branch · also carrier transport for local "
                                       "proxy-core outbound sockets",
                              "", tunnel ? "OS/TUN route" : "OS route"));
}

void add_process_relations(BuildContext& ctx) {
  const Facts& f = ctx.facts;
  // Step 8: every proxy core gets its card.
  for (uint32_t pid : proxy_core_pids(f, f.processes_by_pid)) process_card(ctx, pid);
  for (const auto& [pid, card] : std::map<uint32_t, std::string>(ctx.process_cards)) {
    const CoreControllerInfo* core = core_of(f, pid);
    if (!core) continue;
    std::map<uint32_t, int64_t> seen{{pid, 1}};
    add_capture_trace(ctx, card, pid, 1, seen);
  }

  // Step 9: clients of a drawn listener owner, merged by client and target.
  std::map<std::string, bool> merged;
  std::map<uint32_t, size_t> contexts;
  for (const auto& s : f.tcp_sockets) {
    if (s.state != kTcpEstablished || s.pid == 0 || !is_local_host(f, s.remote_address)) continue;
    const SocketEntry* target = nullptr;
    for (const auto& l : f.tcp_listeners)
      if (l.pid != s.pid &&
          listener_accepts(l, s.remote_address, s.remote_port, f.local_addresses)) {
        target = &l;
        break;
      }
    if (!target) continue;
    auto card = ctx.process_cards.find(target->pid);
    if (card == ctx.process_cards.end()) continue;
    std::string key = fmt::format("{}|local|{}|{}", s.pid, target->pid, s.remote_port);
    if (!merged.emplace(key, true).second) continue;
    std::string id = fmt::format("local-pid-{}", s.pid);
    std::string name = process_label(f, s.pid);
    ctx.b.add_node(id, name,
                   fmt::format("local process relation · PID {} · merged by entity", s.pid), "core",
                   "");
    if (GraphNode* n = ctx.b.node(id)) {
      n->processId = s.pid;
      n->layer = kLayerTunnel;
    }
    ctx.b.add_edge("app", "", id, 0.8, "likely",
                   "local process relation · process-wide relation; logical flow not correlated");
    size_t n = ++contexts[s.pid];
    std::string row = fmt::format("ctx-{}-{}", target->pid, s.remote_port);
    bool core_client = ctx.process_cards.contains(s.pid);
    std::string relation =
        core_client ? " · configured local proxy owner + live proxy-process outbound socket"
                    : " · process-wide socket; logical pass not correlated";
    if (n <= kMaxContextRows) {
      ctx.b.add_item(
          id,
          B::make_item(row, "relation",
                       fmt::format("{} port {}", process_label(f, target->pid), s.remote_port), "",
                       "merged by target process · " + process_label(f, target->pid), "out"));
      ctx.b.add_edge(id, row, card->second, 0.8, "likely",
                     "live local TCP + listener owner" + relation);
    } else {
      ctx.b.put_item(id, B::make_item("ctx-more", "more",
                                      fmt::format("{} additional contexts", n - kMaxContextRows),
                                      "", "kept in runtime evidence; compact visual cap"));
    }
  }
}

void add_capture_trace(BuildContext& ctx, const std::string& card, uint32_t core_pid, int64_t depth,
                       std::map<uint32_t, int64_t>& seen) {
  const GraphLimits& limits = ctx.b.limits();
  const CoreControllerInfo* core = core_of(ctx.facts, core_pid);
  std::vector<CapturedProcess> captured;
  if (core) captured = captured_processes(*core, ctx.facts);
  if (captured.empty()) {
    // A tunnel card already names its owner candidate in its "owner" row.
    // Without a controller's answer the core's connections are unknown, not
    // absent.
    if (core && !core->selected_controller)
      ctx.b.add_item(card, B::make_item("owner", "capture", "controller did not answer", "WARN",
                                        "the core's connections are unknown"));
    else
      ctx.b.add_item(card, B::make_item("owner", "capture", "owner not exposed", "WARN",
                                        "no matching runtime API/process evidence"));
    return;
  }
  // A program that sent its connections to a proxy port on purpose did not
  // come through the tunnel: it hangs off the core's card only.
  const GraphNode* from = ctx.b.node(card);
  bool from_tunnel = from && from->kind == "tun";
  for (const auto& cp : captured) {
    if (static_cast<int64_t>(ctx.b.node_count()) >= limits.maxNodes) break;
    if (from_tunnel && cp.inbound != CoreInbound::kUnknown && cp.inbound != CoreInbound::kTunnel)
      continue;
    uint32_t pid = cp.process.pid;
    if (seen[pid] >= limits.maxRepeatPerPid) {
      ctx.b.add_item(card, B::make_item("cyclecap", "trace", "repeat limit reached", "WARN",
                                        "same process already observed repeatedly in this path"));
      continue;
    }
    ++seen[pid];
    std::string id = fmt::format("capture-{}", pid);
    bool fresh = !ctx.b.has_node(id);
    ctx.b.add_node(id, cp.process.name, fmt::format("TUN capture · PID {} · merged by entity", pid),
                   "core", B::status_of(cp.confidence));
    if (GraphNode* n = ctx.b.node(id); n && fresh) {
      n->processId = pid;
      n->layer = kLayerCore + depth;
    }
    for (size_t i = 0; i < cp.flows.size() && i < kMaxContextRows; ++i)
      ctx.b.add_item(id, B::make_item(fmt::format("flow-{}", i + 1), fmt::format("flow {}", i + 1),
                                      cp.flows[i], "", "runtime API captured process"));
    if (cp.flows.size() > kMaxContextRows)
      ctx.b.add_item(
          id, B::make_item("more", "more",
                           fmt::format("{} additional contexts", cp.flows.size() - kMaxContextRows),
                           "", "visual detail capped"));
    std::string row = fmt::format("proc-{}-l{}", pid, kLayerCore + depth);
    ctx.b.add_item(
        card,
        B::make_item(row, "process", fmt::format("{} · {} flows", cp.process.name, cp.flows.size()),
                     B::status_of(cp.confidence), cp.reason, "out"));
    std::string how = cp.inbound == CoreInbound::kUnknown || cp.inbound == CoreInbound::kTunnel
                          ? "API-observed process capture"
                          : "API-observed " + std::string(inbound_text(cp.inbound));
    ctx.b.add_edge(card, row, id, cp.confidence, "main", how + " · " + cp.reason);
    ctx.b.record_hop(HopRecord{card, row, id, "main", cp.reason, depth, card, cp.confidence});
    if (depth < limits.maxDepth && is_capture_process(cp.process.name) && core_of(ctx.facts, pid))
      add_capture_trace(ctx, id, pid, depth + 1, seen);
    --seen[pid];
  }
}

void add_interception(BuildContext& ctx) {
  const Facts& f = ctx.facts;
  const InterceptionAssessment& ia = f.interception;
  if (ia.level == InterceptionLevel::kNone) return;
  if (f.default_route_v4)
    if (const AdapterAssessment* as = ctx.assessment(f.default_route_v4->if_index);
        as && as->verdict == AdapterVerdict::kTunnel)
      return;
  if (ia.explicit_policy == ExplicitPolicy::kAttributed) return;
  double score = round2(ia.score);
  ctx.b.add_item("app", B::make_item("intercept-evidence", "evidence",
                                     fmt::format("{} · score {}", level_text(ia.level), score), "",
                                     "host-level interception evidence", "out"));
  const std::string id = "intercept-evidence";
  ctx.b.add_node(id, "Interception evidence", "diagnostic sidecar · NOT a traffic hop", "core",
                 ia.level == InterceptionLevel::kLikely ? "WARN" : "");
  if (GraphNode* n = ctx.b.node(id)) {
    n->layoutLane = "evidence";
    n->layer = kLayerCore;
  }
  ctx.b.add_item(
      id, B::make_item("score", "assessment", std::string(level_text(ia.level)), "",
                       fmt::format("diagnostic only · score {} · not a traffic hop", score)));
  for (size_t i = 0; i < ia.signals.size() && i < kMaxSignalRows; ++i)
    ctx.b.add_item(id, B::make_item(fmt::format("signal-{}", i + 1), "signal", ia.signals[i]));
  ctx.b.add_edge("app", "intercept-evidence", id, ia.confidence, "evidence",
                 "host-level interception evidence; diagnostic relation only", false);
}

void add_candidates(BuildContext& ctx) {
  std::map<uint32_t, std::vector<const ProxyCandidateAssessment*>> by_pid;
  for (const auto& c : ctx.facts.proxy_candidates.candidates) by_pid[c.pid].push_back(&c);
  for (const auto& [pid, list] : by_pid) {
    std::string id = fmt::format("candidate-{}", pid);
    bool answered = std::any_of(list.begin(), list.end(),
                                [](const auto* c) { return c->protocol != ProxyProtocol::kNone; });
    ctx.b.add_node(id, process_label(ctx.facts, pid),
                   fmt::format("proxy candidate · PID {} · collapsed by process", pid), "core",
                   answered ? "OK" : "WARN");
    if (GraphNode* n = ctx.b.node(id)) {
      n->processId = pid;
      n->layer = kLayerCore;
    }
    std::set<std::string> protocols;
    for (size_t i = 0; i < list.size() && i < kMaxEndpointRows; ++i) {
      const auto* c = list[i];
      if (c->protocol != ProxyProtocol::kNone) protocols.emplace(protocol_text(c->protocol));
      ctx.b.add_item(id, B::make_item(fmt::format("ep-{}-{}", c->host, c->port), "endpoint",
                                      fmt::format("{}:{}", c->host, c->port),
                                      c->protocol == ProxyProtocol::kNone ? "" : "OK",
                                      fmt::format("{} · score {}",
                                                  c->protocol == ProxyProtocol::kNone
                                                      ? "no proxy protocol answer"
                                                      : protocol_text(c->protocol),
                                                  c->score),
                                      "addr"));
    }
    if (list.size() > kMaxEndpointRows)
      ctx.b.add_item(
          id, B::make_item("more", "more",
                           fmt::format("{} additional endpoints", list.size() - kMaxEndpointRows),
                           "", "collapsed by process"));
    std::vector<std::string> names(protocols.begin(), protocols.end());
    ctx.b.add_edge("app", "", id, answered ? 0.7 : 0.5, "possible",
                   answered ? "proxy candidate answered " + join(names, ", ")
                            : "proxy candidate · passive evidence only");
  }
}

}  // namespace corvale
