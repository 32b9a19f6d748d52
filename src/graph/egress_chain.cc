// The cards behind one route: carrier, gateway (or on-link carrier), the ISP
// side and the remote endpoints seen only in sockets.
#include <algorithm>
#include <unordered_map>

#include "facts/adapter_assessment.h"
#include "facts/probe_targets.h"
#include "graph/build_context.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {

namespace {

using Item = NodeItem;

std::string address_list(const std::vector<InterfaceAddress>& list) {
  std::vector<std::string> parts;
  for (const auto& a : list) parts.push_back(fmt::format("{}/{}", a.address, a.prefix_length));
  return join(parts, ", ");
}

std::string link_text(uint64_t bps) {
  if (bps == 0) return "unknown";
  if (bps >= 1'000'000'000 && bps % 1'000'000'000 == 0)
    return fmt::format("{} Gbps", bps / 1'000'000'000);
  return fmt::format("{} Mbps", bps / 1'000'000);
}

struct RemoteSeen {
  std::string address;
  std::vector<uint16_t> ports;
};

// Established sockets that leave through `a` towards an address that is not
// this host's, grouped by remote address in order of first appearance.
std::vector<RemoteSeen> remotes_through(BuildContext& ctx, const Adapter& a, uint16_t family) {
  std::vector<RemoteSeen> out;
  std::unordered_map<std::string, size_t> index;
  const auto& routes = ctx.socket_routes();
  for (size_t i = 0; i < routes.size(); ++i) {
    const auto& r = routes[i];
    const SocketEntry& s = ctx.facts.tcp_sockets[i];
    if (r.if_index != a.if_index || r.remote_local || !was_established(s)) continue;
    if (r.remote_v4 != (family == kFamilyV4)) continue;
    auto [it, fresh] = index.try_emplace(r.remote, out.size());
    if (fresh) out.push_back(RemoteSeen{r.remote, {}});
    auto& ports = out[it->second].ports;
    if (std::find(ports.begin(), ports.end(), s.remote_port) == ports.end())
      ports.push_back(s.remote_port);
  }
  return out;
}

std::string ping_text(const PingResult& p) {
  if (!p.ok) return "no reply";
  return p.rtt_ms >= 0 ? fmt::format("reachable · {} ms", p.rtt_ms) : "reachable";
}

void add_carrier_rows(BuildContext& ctx, const std::string& id, const Adapter& a,
                      const RouteEntry& route) {
  GraphBuilder& b = ctx.b;
  b.add_item(id, GraphBuilder::make_item("ipv4", "IPv4", address_list(a.ipv4_addresses),
                                         a.ipv4_addresses.empty() ? "" : "OK", "", "addr"));
  b.add_item(id, GraphBuilder::make_item("ipv6", "IPv6", address_list(a.ipv6_addresses),
                                         a.ipv6_addresses.empty() ? "" : "OK", "", "addr"));
  b.add_item(id, GraphBuilder::make_item("ifindex", "ifIndex", std::to_string(a.if_index)));
  b.add_item(id, GraphBuilder::make_item("metric", "metric", std::to_string(route.metric), "",
                                         family_text(route.family) + " default route"));
  b.add_item(id, GraphBuilder::make_item("link", "link", link_text(a.link_speed_bps)));
  b.add_item(id, GraphBuilder::make_item("dhcp", "DHCP", a.dhcp_enabled ? "enabled" : "no"));
}

std::string ensure_carrier(BuildContext& ctx, const Adapter& a, const RouteEntry& route,
                           bool selected) {
  std::string id = fmt::format("nic-{}", a.if_index);
  const AdapterAssessment* as = ctx.assessment(a.if_index);
  std::string verdict = as && as->verdict != AdapterVerdict::kUnassessed
                            ? std::string(verdict_text(as->verdict))
                            : "unassessed";
  std::string status = !a.is_up                                               ? "DOWN"
                       : a.ipv4_addresses.empty() && a.ipv6_addresses.empty() ? "WARN"
                                                                              : "OK";
  bool fresh = !ctx.b.has_node(id);
  ctx.b.add_node(id, a.name,
                 fmt::format("{} · {} · {}", media_type_text(a.if_type), verdict,
                             selected ? "selected route carrier" : "alternate route candidate"),
                 "nic", status, selected);
  if (GraphNode* n = ctx.b.node(id)) {
    n->ifIndex = a.if_index;
    n->layer = kLayerCarrier;
    if (selected) n->sel = true;
  }
  if (fresh) {
    add_carrier_rows(ctx, id, a, route);
    add_resolver_rows(ctx, id, a.dns_servers, "Physical DNS");
  }
  return id;
}

}  // namespace

bool was_established(const SocketEntry& s) {
  switch (s.state) {
    case kTcpEstablished:
    case 6:   // TIME-WAIT
    case 7:   // FIN-WAIT-1
    case 8:   // CLOSE-WAIT
    case 9:   // FIN-WAIT-2
    case 10:  // LAST-ACK
    case 11:  // CLOSING
      return true;
    default:
      return false;
  }
}

std::string family_tag(uint16_t family) { return family == kFamilyV6 ? "v6" : "v4"; }
std::string family_text(uint16_t family) { return family == kFamilyV6 ? "IPv6" : "IPv4"; }

void add_resolver_rows(BuildContext& ctx, const std::string& card,
                       const std::vector<std::string>& resolvers, const std::string& meta) {
  for (size_t i = 0; i < resolvers.size(); ++i) {
    const std::string& r = resolvers[i];
    std::string row = fmt::format("dns-{}", r);
    if (ctx.b.has_item(card, row)) continue;
    DnsProbeResult d = ctx.resolve(r);
    auto detail = std::make_shared<ItemDetail>();
    detail->label = fmt::format("DNS {}", r);
    detail->sub = meta;
    detail->kind = "dns";
    detail->status = d.ok ? "OK" : "FAIL";
    detail->items = {
        GraphBuilder::make_item("resolve", "resolve", kDnsProbeName, d.ok ? "OK" : "FAIL"),
        GraphBuilder::make_item("answer", "answer", d.answer.empty() ? "no answer" : d.answer),
        GraphBuilder::make_item(
            "time", "time",
            d.elapsed_ms == kNoReplyMs ? "---" : fmt::format("{} ms", d.elapsed_ms)),
    };
    for (auto& item : detail->items) item.probe = true;
    NodeItem item = GraphBuilder::make_item(
        row, i == 0 ? "resolver · primary" : fmt::format("resolver · backup {}", i), r,
        d.ok ? "OK" : "FAIL", meta, "addr");
    item.detail = std::move(detail);
    ctx.b.add_item(card, std::move(item));
  }
}

std::string add_egress_chain(BuildContext& ctx, const RouteEntry& route, bool selected) {
  const Adapter* a = ctx.adapter(route.if_index);
  if (!a) return {};
  GraphBuilder& b = ctx.b;
  const std::string fam = family_tag(route.family);
  const std::string nic = ensure_carrier(ctx, *a, route, selected);
  const bool standby = !selected;
  std::vector<RemoteSeen> remotes = remotes_through(ctx, *a, route.family);
  const bool observed = !remotes.empty();
  const PingResult internet =
      route.family == kFamilyV6 ? ctx.facts.internet_probes.v6 : ctx.facts.internet_probes.v4;
  const std::string target = route.family == kFamilyV6 ? kInternetTargetV6 : kInternetTargetV4;
  std::string isp;

  if (has_conventional_gateway(route)) {
    const std::string gw_row = fmt::format("gateway-{}-{}", fam, route.gateway);
    b.add_item(nic, GraphBuilder::make_item(
                        gw_row, "gateway", route.gateway, "",
                        observed ? "established socket" : "not constrained/probed", "out"));
    PingResult gp = ctx.ping(pingable_gateway(route));
    std::string gw = fmt::format("gw-{}-{}-{}", fam, route.if_index, route.gateway);
    b.add_node(gw, "Gateway", fmt::format("{} next hop · {}", family_text(route.family), a->name),
               "gw", gp.ok ? "OK" : "FAIL", selected);
    if (GraphNode* n = b.node(gw)) n->layer = kLayerGateway;
    b.add_item(gw, GraphBuilder::make_item("address", family_text(route.family), route.gateway, "",
                                           "", "addr"));
    NodeItem probe = GraphBuilder::make_item("probe", "probe", ping_text(gp), gp.ok ? "OK" : "FAIL",
                                             "active gateway reachability", "addr");
    probe.probe = true;
    b.add_item(gw, std::move(probe));
    b.add_item(gw, GraphBuilder::make_item(
                       "route", "route",
                       fmt::format("default via {} dev {} metric {}", route.gateway, a->name,
                                   route.metric),
                       "", selected ? "OS selected default route" : "standby route candidate"));
    b.add_edge(nic, gw_row, gw, 1.0, "main",
               gp.ok ? "default route next hop; gateway answered"
                     : "default route next hop; gateway did not answer",
               !gp.ok);
    isp = fmt::format("isp-{}-{}-{}", fam, route.if_index, route.gateway);
    b.add_node(isp, "Internet / ISP", fmt::format("beyond gateway {}", route.gateway), "isp",
               observed || internet.ok ? "OK" : "FAIL", selected);
    if (standby) {
      b.add_edge(gw, "", isp, 0.45, "alt", "standby route candidate");
    } else {
      b.add_edge(gw, "", isp, 1.0, "main",
                 observed ? "established socket beyond gateway" : "active internet probe",
                 !observed && !internet.ok);
    }
  } else {
    const std::string on_link = fmt::format("gateway-{}-onlink", fam);
    b.add_item(nic, GraphBuilder::make_item(
                        on_link, "gateway", "on-link / point-to-point", "",
                        observed ? "established socket route" : "no conventional gateway", "out"));
    isp = fmt::format("isp-{}-{}-direct", fam, route.if_index);
    b.add_node(isp, "Internet / ISP", fmt::format("gateway-less carrier · {}", a->name), "isp",
               observed || internet.ok ? "OK" : "FAIL", selected);
    if (standby) {
      b.add_edge(nic, on_link, isp, 0.45, "alt", "gateway-less route candidate");
    } else {
      b.add_edge(nic, on_link, isp, 1.0, "main",
                 observed ? "established socket on gateway-less carrier"
                          : "active internet probe on gateway-less carrier",
                 !observed && !internet.ok);
    }
  }

  if (GraphNode* n = b.node(isp)) n->layer = kLayerIsp;
  b.add_item(isp, GraphBuilder::make_item("address", family_text(route.family),
                                          route.gateway.empty() ? "on-link" : route.gateway, "", "",
                                          "addr"));
  NodeItem probe = GraphBuilder::make_item(
      "probe", "probe", fmt::format("{} · {}", target, ping_text(internet)),
      internet.ok ? "OK" : "FAIL", fmt::format("active {} reachability", family_text(route.family)),
      "addr");
  probe.probe = true;
  b.add_item(isp, std::move(probe));
  b.add_item(isp, GraphBuilder::make_item(
                      "route", "route",
                      selected ? "OS selected default route" : "alternate route candidate"));
  b.add_item(isp, GraphBuilder::make_item(
                      "observed", "observed",
                      fmt::format("{} remote endpoint(s) · established · passive", remotes.size()),
                      observed ? "OK" : "", "passive socket"));

  for (size_t i = 0; i < remotes.size() && i < kMaxRemoteCards; ++i) {
    const RemoteSeen& r = remotes[i];
    std::string id = fmt::format("remote-{}", r.address);
    std::vector<std::string> ports;
    for (uint16_t p : r.ports) ports.push_back(std::to_string(p));
    b.add_node(id, "Remote endpoint(s)", fmt::format("{} · observed beyond ISP", r.address),
               "remote", "");
    if (GraphNode* n = b.node(id)) n->layer = kLayerRemote;
    b.add_item(id, GraphBuilder::make_item("remote-hop", "remote-hop",
                                           fmt::format("{} port {}", r.address, join(ports, ", ")),
                                           "", "passively observed; no probe", "addr"));
    b.add_item(id, GraphBuilder::make_item("probe", "probe", "not probed", "",
                                           "no reachability probe issued"));
    b.add_item(id, GraphBuilder::make_item("role", "role", "passive only", "",
                                           "identity/role not assumed"));
    b.add_edge(isp, "", id, 1.0, "main", "passive established socket endpoint");
  }
  return nic;
}

std::string add_tunnel_card(BuildContext& ctx, const RouteEntry& route) {
  const Adapter* a = ctx.adapter(route.if_index);
  const AdapterAssessment* as = ctx.assessment(route.if_index);
  GraphBuilder& b = ctx.b;
  const double confidence = as ? as->confidence : 0.7;
  const std::string name = adapter_label(ctx.facts, route.if_index);
  std::string id = fmt::format("tun-{}-l{}", route.if_index, kLayerTunnel);
  bool selected =
      ctx.facts.default_route_v4 && ctx.facts.default_route_v4->if_index == route.if_index;
  if (b.has_node(id)) return id;
  b.add_node(id, fmt::format("{} · layer {}", name, kLayerTunnel),
             fmt::format("Tunnel ifIndex {} · graph layer {} · confidence {}", route.if_index,
                         kLayerTunnel, GraphBuilder::clamp_confidence(confidence)),
             "tun", GraphBuilder::status_of(confidence), selected);
  if (GraphNode* n = b.node(id)) {
    n->ifIndex = route.if_index;
    n->layer = kLayerTunnel;
  }
  b.add_item(id, GraphBuilder::make_item("ipv4", "IPv4", a ? address_list(a->ipv4_addresses) : "",
                                         "", "", "addr"));
  b.add_item(id, GraphBuilder::make_item("ipv6", "IPv6", a ? address_list(a->ipv6_addresses) : "",
                                         "", "", "addr"));
  b.add_item(id, GraphBuilder::make_item("ifindex", "ifIndex", std::to_string(route.if_index)));
  b.add_item(id,
             GraphBuilder::make_item(
                 "role", "role", as ? std::string(verdict_text(as->verdict)) : "tunnel-like",
                 GraphBuilder::status_of(confidence), fmt::format("confidence {}", confidence)));
  std::vector<std::string> services;
  for (const auto& s : ctx.facts.service_hits) services.push_back(s.name);
  b.add_item(id, GraphBuilder::make_item("service", "service",
                                         services.empty() ? "none" : join(services, ", "), "",
                                         "running tunnel/VPN services"));
  b.add_item(id, GraphBuilder::make_item("signals", "signals",
                                         as ? join(as->reasons, " · ") : std::string(), "",
                                         "adapter assessment"));
  ctx.tunnel_owners = tunnel_owner_candidates(ctx.facts, route.if_index);
  if (!ctx.tunnel_owners.empty()) {
    const OwnerCandidate& top = ctx.tunnel_owners.front();
    bool several = ctx.tunnel_owners.size() > 1 && top.identity_score <= 99;
    b.add_item(
        id, GraphBuilder::make_item(
                "owner", "owner",
                fmt::format("{} · PID {}", capture_short_name(top.process.name), top.process.pid),
                several ? "WARN" : GraphBuilder::status_of(top.confidence),
                several ? "multiple core candidates" : top.reason, "out"));
  }
  if (a) add_resolver_rows(ctx, id, a->dns_servers, "TUN DNS");
  return id;
}

}  // namespace corvale
