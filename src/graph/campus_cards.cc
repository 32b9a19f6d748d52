// The step of the graph build that draws the campus portal, its login-status
// service and the campus resolvers beside the carrier path.
#include "facts/adapter_assessment.h"
#include "facts/probe_targets.h"
#include "graph/build_context.h"
#include "util/text.h"

namespace corvale {

using B = GraphBuilder;

void add_campus(BuildContext& ctx) {
  const Facts& f = ctx.facts;
  const CampusTargets t;
  const CampusProbes& cp = f.campus_probes;
  PingResult portal_ping = ctx.ping(t.portal_host);
  bool portal_ok = cp.portal_ok || portal_ping.ok;
  ctx.b.add_node("zekportal", "ZEK Portal", "HTTP probe · srun login", "zek",
                 cp.portal_ok     ? "OK"
                 : portal_ping.ok ? "WARN"
                                  : "FAIL");
  ctx.b.add_item("zekportal", B::make_item("address", "portal", t.portal_host, "", "", "addr"));
  NodeItem ping = B::make_item("ping", "ping", portal_ping.ok ? "reachable" : "no reply",
                               portal_ping.ok ? "OK" : "FAIL", "ZEK reachability", "addr");
  ping.probe = true;
  ctx.b.add_item("zekportal", std::move(ping));
  NodeItem login =
      B::make_item("login", "login", cp.login.recognized ? "srun_portal" : "not detected",
                   cp.login.recognized ? "OK" : "", "login-status service");
  login.probe = true;
  ctx.b.add_item("zekportal", std::move(login));
  if (!cp.portal_title.empty())
    ctx.b.add_item("zekportal", B::make_item("title", "title", cp.portal_title));

  const RouteEntry* carrier = carrier_route(ctx, kFamilyV4);
  if (carrier && has_conventional_gateway(*carrier)) {
    std::string gw = fmt::format("gw-v4-{}-{}", carrier->if_index, carrier->gateway);
    if (ctx.b.has_node(gw)) {
      ctx.b.add_item("zekportal",
                     B::make_item("carrier", "carrier", carrier->gateway, "",
                                  "no target-specific carrier evidence; existing gateway "
                                  "candidate"));
      ctx.b.add_edge(gw, "", "zekportal", 0.6, "zek",
                     "no target-specific carrier evidence; existing gateway candidate", !portal_ok);
    }
  }

  bool api_ok = false;
  if (cp.probes.size() > 4) {
    const CampusProbeResult& api = cp.probes[4];
    api_ok = api.http.has_value() || api.tcp_fallback == TcpFallback::kConnected;
  }
  PingResult api_ping = ctx.ping(t.api_host);
  ctx.b.add_node("zekapi", "ZEK API", fmt::format("{}:{} · self-service", t.api_host, t.api_port),
                 "zek", api_ok ? "OK" : "FAIL");
  NodeItem api = B::make_item("api", fmt::format("HTTP:{}", t.api_port), api_ok ? "open" : "closed",
                              api_ok ? "OK" : "FAIL", "ZEK probes", "addr");
  api.probe = true;
  ctx.b.add_item("zekapi", std::move(api));
  NodeItem aping = B::make_item("ping", "ping", api_ping.ok ? "reachable" : "no reply",
                                api_ping.ok ? "OK" : "FAIL", "ZEK reachability", "addr");
  aping.probe = true;
  ctx.b.add_item("zekapi", std::move(aping));
  ctx.b.add_edge("zekportal", "", "zekapi", 1.0, "zek", "Portal-associated API probe", !api_ok);

  const std::pair<const char*, std::string> resolvers[] = {{"primary", t.resolver_a},
                                                           {"backup", t.resolver_b}};
  for (const auto& [which, r] : resolvers) {
    DnsProbeResult d = ctx.resolve(r);
    auto detail = std::make_shared<ItemDetail>();
    detail->label = fmt::format("DNS {}", r);
    detail->sub = "ZEK resolver";
    detail->kind = "dns";
    detail->status = d.ok ? "OK" : "FAIL";
    detail->items = {
        B::make_item("resolve", "resolve", kDnsProbeName, d.ok ? "OK" : "FAIL"),
        B::make_item("answer", "answer", d.answer.empty() ? "no answer" : d.answer),
        B::make_item("time", "time",
                     d.elapsed_ms == kNoReplyMs ? "---" : fmt::format("{} ms", d.elapsed_ms)),
    };
    NodeItem row =
        B::make_item(fmt::format("zekportal-dns-{}", which),
                     fmt::format("ZEK resolver · {}", which), r, d.ok ? "OK" : "FAIL", "", "addr");
    row.detail = std::move(detail);
    ctx.b.add_item("zekportal", std::move(row));
  }
}

}  // namespace corvale
