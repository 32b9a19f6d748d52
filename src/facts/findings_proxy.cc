// The rules about tunnels, proxy cores, proxy settings and interception.
#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>

#include "facts/adapter_assessment.h"
#include "facts/desktop_proxy.h"
#include "facts/findings_rules.h"
#include "facts/lookup.h"
#include "facts/products.h"
#include "facts/runtime_process.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale::diagnosis {

namespace {

// Kernel tunnels (WireGuard, GRE, IPsec …) have no process behind them, so a
// missing owner says nothing about them.
bool is_kernel_tunnel_name(std::string_view name) {
  for (std::string_view p : {"wg", "gre", "gretap", "erspan", "ipip", "sit", "ip6tnl", "ip6gre",
                             "vti", "ip_vti", "ip6_vti", "xfrm", "ipsec"})
    if (name.starts_with(p)) return true;
  return false;
}

// The applications a proxy core's controller lists among its connections,
// by how those connections reached the core: what the tunnel captured is
// told apart from what a program sent to a proxy port on purpose.
std::map<CoreInbound, std::set<std::string>> captured_apps(const CoreControllerInfo& core) {
  std::map<CoreInbound, std::set<std::string>> apps;
  for (const auto& conn : core.connections) {
    auto runtime = runtime_process_of(conn);
    if (!runtime) continue;
    std::string name = runtime->process_name;
    if (name.empty()) name = std::string(file_name(runtime->process_path));
    if (!name.empty()) apps[inbound_kind(conn.inbound_type)].insert(name);
  }
  return apps;
}

// "; the proxy core reports firefox's connections captured by the tunnel and
// curl's connections sent to its proxy port" (no words for an unknown inbound).
Phrase captured_apps_phrase(const Context& c, const CoreControllerInfo& core) {
  auto apps = captured_apps(core);
  if (core.connections.empty()) return c.phrase("; the proxy core reports no connections");
  // find-process-mode: off leaves the connections without their programs.
  if (apps.empty())
    return c.phrase("; the proxy core lists connections but not which programs opened them");
  std::vector<Phrase> parts;
  for (CoreInbound kind : {CoreInbound::kTunnel, CoreInbound::kExplicit,
                           CoreInbound::kTransparent, CoreInbound::kUnknown}) {
    auto it = apps.find(kind);
    if (it == apps.end()) continue;
    Phrase who = list_phrase(c, std::vector<std::string>(it->second.begin(), it->second.end()));
    switch (kind) {
      case CoreInbound::kTunnel:
        parts.push_back(c.phrase("{}'s connections captured by the tunnel", who));
        break;
      case CoreInbound::kExplicit:
        parts.push_back(c.phrase("{}'s connections sent to its proxy port", who));
        break;
      case CoreInbound::kTransparent:
        parts.push_back(c.phrase("{}'s connections redirected to it by the firewall", who));
        break;
      case CoreInbound::kUnknown:
        parts.push_back(c.phrase("{}'s connections", who));
        break;
    }
  }
  return c.phrase("; the proxy core reports {}", list_phrase(c, parts));
}

// Settings that programs follow: proxy variables and the system proxy, not
// the endpoints a proxy core's configuration file would open.
bool is_program_setting(std::string_view source) { return !source.starts_with("config:"); }

bool stale_tunnel_holds_route(const Facts& f) {
  const Adapter* t = egress_tunnel(f);
  return t && !any_core_runs(f) && !is_kernel_tunnel_name(t->name);
}

std::optional<Draft> interception_at(const Context& c, InterceptionLevel level) {
  if (effective_level(c) != level) return std::nullopt;
  const InterceptionAssessment& i = c.f.interception;
  std::vector<std::string> spots;
  for (const auto& l : i.protocol_proxy_listeners) {
    std::string name = process_name(c.f, l.pid).value_or("");
    if (name.empty()) name = l.process_name;
    spots.push_back(
        fmt::format("{} ({}, {})", endpoint_text(l.host, l.port), name, protocol_text(l.protocol)));
  }
  Draft d;
  std::string signals;
  for (size_t k = 0; k < i.signals.size() && k < 2; ++k) signals += (k ? "; " : "") + i.signals[k];
  // The level's word stays the one the report's chip shows, in any language.
  std::string_view word = level_text(level);
  if (spots.empty())
    d.say(c, "Traffic interception is {} (score {:g}): {}.", word, i.score, signals);
  else
    d.say(c,
          "Traffic interception is {} (score {:g}): local proxies answer on {}; programs set to "
          "use them send their traffic there.",
          word, i.score, join(spots, ", "));
  d.evidence = i.signals;
  return d;
}

}  // namespace

std::optional<Draft> stale_tunnel(const Context& c) {
  const Facts& f = c.f;
  if (!stale_tunnel_holds_route(f)) return std::nullopt;
  const Adapter* t = egress_tunnel(f);
  const AdapterAssessment* a = assessment_of(f, t->if_index);
  std::vector<std::string> fake_dns;
  for (const auto& s : configured_resolvers(f))
    if (is_fake_ip_style(s)) fake_dns.push_back(s);
  Draft d;
  if (fake_dns.empty())
    d.say(c,
          "{} holds the IPv4 default route, but no proxy core or VPN program runs: a core that "
          "stopped left its tunnel behind, so traffic goes nowhere. Restart the proxy core, or "
          "remove the route ({}).",
          t->name, leftover_route_removal(f, *t));
  else
    d.say(c,
          "{} holds the IPv4 default route, but no proxy core or VPN program runs: a core that "
          "stopped left its tunnel behind and DNS still points at its resolver {}, so traffic "
          "goes nowhere. Restart the proxy core, or remove the route ({}) and restore "
          "/etc/resolv.conf.",
          t->name, join(fake_dns, ", "), leftover_route_removal(f, *t));
  d.evidence = {fmt::format("IPv4 egress: {} ({}{})", t->name,
                            verdict_text(a ? a->verdict : AdapterVerdict::kTunnel),
                            a ? fmt::format(", {:.2f}", a->confidence) : ""),
                "proxy/VPN processes and services: none", internet_evidence(f, kFamilyV4)};
  for (const auto& s : fake_dns) d.evidence.push_back(fmt::format("DNS server {} (fake-IP)", s));
  return d;
}

// The proxy core: the one whose controller answered, else the first found.
const CoreControllerInfo* main_core(const Facts& f) {
  for (const auto& c : f.core_infos)
    if (c.selected_controller) return &c;
  return f.core_infos.empty() ? nullptr : &f.core_infos[0];
}

// The proxy program named when no controller is known: a GUI front end only
// when nothing else runs.
const ProcessInfo* main_proxy_process(const Facts& f) {
  for (const auto& p : f.proxy_processes)
    if (!is_gui_front_end(p.name)) return &p;
  return f.proxy_processes.empty() ? nullptr : &f.proxy_processes[0];
}

std::optional<Draft> tunnel_internet_silent(const Context& c) {
  const Facts& f = c.f;
  const Adapter* t = egress_tunnel(f);
  if (!t || f.internet_probes.v4.ok || stale_tunnel_holds_route(f)) return std::nullopt;
  // A core with a controller is a proxy core; anything else (a VPN client)
  // is only named as the tunnel's program.
  Phrase who = c.phrase("program");
  Phrase advice = c.phrase("Check its configuration and its log.");
  if (const CoreControllerInfo* core = main_core(f)) {
    std::string name = process_name(f, core->pid).value_or("");
    who = c.phrase("proxy core ({})", name.empty() ? core->process_name : name);
    advice = c.phrase("Check the core's proxies and its log.");
  } else if (const ProcessInfo* p = main_proxy_process(f)) {
    who = c.phrase("program ({})", p->name);
  }
  Draft d;
  d.say(c,
        "{} does not answer through {}: the tunnel's {} may have no working upstream, or it does "
        "not pass ping. {}",
        kInternetTargetV4, t->name, who, advice);
  d.evidence = {fmt::format("IPv4 egress: {}", t->name), internet_evidence(f, kFamilyV4)};
  if (const GatewayProbe* g = answering_gateway(f, kFamilyV4))
    d.evidence.push_back(gateway_evidence(f, *g));
  return d;
}

std::optional<Draft> tunnel_default_route(const Context& c) {
  const Facts& f = c.f;
  const Adapter* t = egress_tunnel(f);
  if (!t || stale_tunnel_holds_route(f)) return std::nullopt;
  const AdapterAssessment* a = assessment_of(f, t->if_index);
  Phrase owner;
  const CoreControllerInfo* core = main_core(f);
  if (core) {
    std::string name = process_name(f, core->pid).value_or("");
    owner = c.phrase("owned by {} (pid {})", name.empty() ? core->process_name : name, core->pid);
  } else if (const ProcessInfo* p = main_proxy_process(f)) {
    owner = c.phrase("probably owned by {} (pid {})", p->name, p->pid);
  } else {
    owner = c.phrase("owned by a kernel tunnel or a service");
  }
  Phrase apps_text;
  // Without an answer the core's connections are unknown, not absent.
  if (core && !core->selected_controller && core->connections.empty())
    apps_text = c.phrase("; the proxy core's controller did not answer");
  else if (core)
    apps_text = captured_apps_phrase(c, *core);
  Draft d;
  d.say(c, "All IPv4 traffic goes through {} ({}{}), {}{}.", t->name,
        verdict_text(a ? a->verdict : AdapterVerdict::kTunnel),
        a ? fmt::format(", {:.2f}", a->confidence) : "", owner, apps_text);
  d.evidence = {fmt::format("IPv4 egress: {}", t->name)};
  if (a)
    for (const auto& r : a->reasons) d.evidence.push_back(fmt::format("{}: {}", t->name, r));
  for (const auto& p : f.proxy_processes)
    d.evidence.push_back(fmt::format("process {} (pid {})", p.name, p.pid));
  return d;
}

std::optional<Draft> proxy_setting_dead(const Context& c) {
  const Facts& f = c.f;
  // One finding per dead endpoint, naming every setting that points at it.
  std::vector<std::pair<std::string, std::vector<std::string>>> dead;
  for (const auto& e : f.proxy_settings.endpoints) {
    if (!is_program_setting(e.source) || !is_local_host(f, e.host)) continue;
    // The desktop's system proxy has its own rule, which says where to turn it off.
    if (!f.proxy_settings.desktop.empty() && e.source == system_proxy_source(f.proxy_settings))
      continue;
    if (accepting_listener(f, e.host, e.port)) continue;
    std::string where = endpoint_text(e.host, e.port);
    auto it =
        std::find_if(dead.begin(), dead.end(), [&](const auto& x) { return x.first == where; });
    if (it == dead.end()) {
      dead.push_back({where, {e.source}});
    } else if (std::find(it->second.begin(), it->second.end(), e.source) == it->second.end()) {
      it->second.push_back(e.source);
    }
  }
  if (dead.empty()) return std::nullopt;
  Draft d;
  const auto& [where, sources] = dead[0];
  if (sources.size() > 1)
    d.say(c,
          "{} point at {}, but nothing listens there: programs that use it cannot connect. Start "
          "the proxy or unset {}.",
          list_phrase(c, sources), where, list_phrase(c, sources));
  else
    d.say(c,
          "{} points at {}, but nothing listens there: programs that use it cannot connect. Start "
          "the proxy or unset {}.",
          sources[0], where, sources[0]);
  for (const auto& [w, s] : dead)
    d.evidence.push_back(fmt::format("{} -> {}: no listener", join(s, ", "), w));
  return d;
}

std::optional<Draft> interception_likely(const Context& c) {
  return interception_at(c, InterceptionLevel::kLikely);
}

std::optional<Draft> interception_possible(const Context& c) {
  return interception_at(c, InterceptionLevel::kPossible);
}

// The graph found that the local proxies carry only the traffic of programs
// told to use them.
std::optional<Draft> explicit_proxy(const Context& c) {
  const Facts& f = c.f;
  if (effective_level(c) != InterceptionLevel::kExplicitProxy) return std::nullopt;
  std::vector<std::string> sources, targets;
  for (const auto& e : f.proxy_settings.endpoints) {
    if (!is_program_setting(e.source) || !accepting_listener(f, e.host, e.port)) continue;
    if (std::find(sources.begin(), sources.end(), e.source) == sources.end())
      sources.push_back(e.source);
    std::string owner;
    for (const auto& l : f.tcp_listeners)
      if (l.local_port == e.port && owner.empty()) owner = process_name(f, l.pid).value_or("");
    std::string t = endpoint_text(e.host, e.port) + (owner.empty() ? "" : " (" + owner + ")");
    if (std::find(targets.begin(), targets.end(), t) == targets.end()) targets.push_back(t);
  }
  Draft d;
  std::string egress = f.egress_v4 ? adapter_label(f, f.egress_v4->if_index) : "";
  if (targets.empty())
    d.say(c,
          "Programs set to use a local proxy send their traffic through it; other traffic leaves "
          "directly.");
  else if (egress.empty())
    d.say(c, "Programs that follow {} send their traffic to {}; other traffic leaves directly.",
          list_phrase(c, sources), list_phrase(c, targets));
  else
    d.say(c,
          "Programs that follow {} send their traffic to {}; other traffic leaves directly "
          "through {}.",
          list_phrase(c, sources), list_phrase(c, targets), egress);
  d.evidence = f.interception.signals;
  for (const auto& s : sources) d.evidence.push_back(fmt::format("proxy setting {}", s));
  return d;
}

}  // namespace corvale::diagnosis
