#include "facts/findings.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <set>

#include "facts/adapter_assessment.h"
#include "facts/runtime_process.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

// What one rule found; the table row adds the code and, unless the rule
// overrides it, the severity.
struct Draft {
  std::string text;
  std::vector<std::string> evidence;
  std::optional<Severity> severity;
};

struct Context {
  const Facts& f;
  const ResolverResults& resolvers;
  std::vector<Finding> found;  // in table order so far

  bool fired(std::string_view code) const {
    return std::any_of(found.begin(), found.end(),
                       [&](const Finding& x) { return x.code == code; });
  }
};

using Check = std::optional<Draft> (*)(const Context&);

struct Rule {
  std::string_view code;
  Severity severity;
  Check check;
};

// ---- reading the facts ----------------------------------------------------

const Adapter* adapter_at(const Facts& f, uint32_t if_index) {
  for (const auto& a : f.adapters)
    if (a.if_index == if_index) return &a;
  return nullptr;
}

std::string adapter_name(const Facts& f, uint32_t if_index) {
  const Adapter* a = adapter_at(f, if_index);
  return a ? a->name : fmt::format("ifIndex {}", if_index);
}

bool is_loopback_adapter(const Adapter& a) {
  return a.if_type == kIfTypeLoopback || a.name == "lo";
}

std::vector<const Adapter*> links_up(const Facts& f) {
  std::vector<const Adapter*> up;
  for (const auto& a : f.adapters)
    if (a.is_up && !is_loopback_adapter(a)) up.push_back(&a);
  return up;
}

const RouteEntry* first_default(const Facts& f, uint16_t family) {
  const RouteEntry* best = nullptr;
  for (const auto& r : f.routes)
    if (r.family == family && is_default_route(r) && (!best || r.metric < best->metric)) best = &r;
  return best;
}

// The IPv4 default route the kernel really uses: the one on the egress
// adapter when the lookup named one, else the lowest metric.
const RouteEntry* egress_default_v4(const Facts& f) {
  if (f.egress_v4)
    for (const auto& r : f.routes)
      if (r.family == kFamilyV4 && is_default_route(r) && r.if_index == f.egress_v4->if_index)
        return &r;
  return first_default(f, kFamilyV4);
}

const GatewayProbe* silent_gateway(const Facts& f, uint16_t family) {
  for (const auto& g : f.gateway_probes) {
    if (g.family != family || g.ok) continue;
    const Adapter* a = adapter_at(f, g.if_index);
    if (a && a->is_up) return &g;
  }
  return nullptr;
}

const GatewayProbe* answering_gateway(const Facts& f, uint16_t family) {
  for (const auto& g : f.gateway_probes)
    if (g.family == family && g.ok) return &g;
  return nullptr;
}

std::string gateway_shown(const GatewayProbe& g) {
  // Link-local gateways are pinged with their zone; the adapter is named anyway.
  return g.gateway.substr(0, g.gateway.find('%'));
}

std::string answered(bool ok) { return ok ? "answers" : "no answer"; }

std::string internet_evidence(const Facts& f, uint16_t family) {
  bool ok = family == kFamilyV4 ? f.internet_probes.v4.ok : f.internet_probes.v6.ok;
  return fmt::format("ping {}: {}", family == kFamilyV4 ? kInternetTargetV4 : kInternetTargetV6,
                     answered(ok));
}

std::string gateway_evidence(const Facts& f, const GatewayProbe& g) {
  return fmt::format("ping gateway {} ({}): {}", gateway_shown(g), adapter_name(f, g.if_index),
                     answered(g.ok));
}

// The collect stage lists the campus hosts portal, resolver, resolver, API.
std::string campus_host(const Facts& f, size_t i, const char* fallback) {
  const auto& r = f.campus_probes.reachability;
  return i < r.size() && !r[i].host.empty() ? r[i].host : fallback;
}

bool portal_answers(const Facts& f) {
  const auto& p = f.campus_probes.probes;
  return f.campus_probes.portal_ok || (p.size() > 1 && p[1].http.has_value());
}

bool campus_all_silent(const Facts& f) {
  const auto& r = f.campus_probes.reachability;
  return !r.empty() && std::none_of(r.begin(), r.end(), [](const auto& h) { return h.ping.ok; }) &&
         !portal_answers(f);
}

const AdapterAssessment* assessment_of(const Facts& f, uint32_t if_index) {
  auto it = f.assessments_by_index.find(if_index);
  return it == f.assessments_by_index.end() ? nullptr : &it->second;
}

// The tunnel adapter that carries IPv4 to the Internet, if it is one.
const Adapter* egress_tunnel(const Facts& f) {
  if (!f.egress_v4 || !is_tunnel_interface(f, f.egress_v4->if_index)) return nullptr;
  return adapter_at(f, f.egress_v4->if_index);
}

// Kernel tunnels (WireGuard, GRE, IPsec …) have no process behind them, so a
// missing owner says nothing about them.
bool is_kernel_tunnel_name(std::string_view name) {
  for (std::string_view p : {"wg", "gre", "gretap", "erspan", "ipip", "sit", "ip6tnl", "ip6gre",
                             "vti", "ip_vti", "ip6_vti", "xfrm", "ipsec"})
    if (name.starts_with(p)) return true;
  return false;
}

bool any_core_runs(const Facts& f) {
  return !f.proxy_processes.empty() || !f.core_infos.empty() || !f.driver_hits.empty() ||
         !f.service_hits.empty();
}

std::string process_name(const Facts& f, uint32_t pid) {
  auto it = f.processes_by_pid.find(pid);
  return it == f.processes_by_pid.end() ? std::string() : it->second.name;
}

// The applications a proxy core's controller lists among its connections.
std::vector<std::string> captured_apps(const CoreControllerInfo& core) {
  std::set<std::string> apps;
  for (const auto& conn : core.connections) {
    auto runtime = runtime_process_of(conn);
    if (!runtime) continue;
    std::string name = runtime->process_name;
    if (name.empty()) name = std::string(file_name(runtime->process_path));
    if (!name.empty()) apps.insert(name);
  }
  return {apps.begin(), apps.end()};
}

std::string list_text(const std::vector<std::string>& items) {
  if (items.size() <= 1) return items.empty() ? "" : items[0];
  std::vector<std::string> head(items.begin(), items.end() - 1);
  return join(head, ", ") + " and " + items.back();
}

std::vector<std::string> configured_resolvers(const Facts& f) {
  std::vector<std::string> out;
  for (const auto& a : f.adapters)
    for (const auto& s : a.dns_servers)
      if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
  return out;
}

bool listens_on_53(const Facts& f, const std::string& address) {
  std::string want = normalize_ip_text(address);
  auto serves = [&](const SocketEntry& s) {
    return s.local_port == 53 &&
           (normalize_ip_text(s.local_address) == want || is_unspecified_ip(s.local_address));
  };
  return std::any_of(f.udp_sockets.begin(), f.udp_sockets.end(), serves) ||
         std::any_of(f.tcp_listeners.begin(), f.tcp_listeners.end(), serves);
}

bool is_local_host(const Facts& f, const std::string& host) {
  return is_loopback_host(host) || f.local_addresses.contains(host) ||
         f.local_addresses.contains(normalize_ip_text(host)) || f.local_names.contains(host);
}

// A listener that takes connections for `host`:`port` (an unspecified bind
// takes them all; loopback names match any loopback bind).
bool someone_listens(const Facts& f, const std::string& host, uint16_t port) {
  std::string want = normalize_ip_text(host);
  for (const auto& l : f.tcp_listeners) {
    if (l.local_port != port) continue;
    if (is_unspecified_ip(l.local_address)) return true;
    if (normalize_ip_text(l.local_address) == want) return true;
    if (is_loopback_host(host) && is_loopback_host(l.local_address)) return true;
  }
  return false;
}

// Settings that programs follow: proxy variables and the system proxy, not
// the endpoints a proxy core's configuration file would open.
bool is_program_setting(std::string_view source) { return !source.starts_with("config:"); }

std::string endpoint_text(const std::string& host, uint16_t port) {
  if (host.find(':') != std::string::npos) return fmt::format("[{}]:{}", host, port);
  return fmt::format("{}:{}", host, port);
}

// ---- the rules --------------------------------------------------------------

std::optional<Draft> no_link_up(const Context& c) {
  if (c.f.adapters.empty() || !links_up(c.f).empty()) return std::nullopt;
  Draft d;
  std::vector<std::string> down;
  for (const auto& a : c.f.adapters)
    if (!is_loopback_adapter(a)) down.push_back(a.name);
  d.text = down.empty() ? "No network adapter besides loopback exists: this host has no network "
                          "link. Connect a cable or a Wi-Fi adapter."
                        : fmt::format(
                              "No network adapter is up ({} down): this host has no "
                              "network link. Plug in the cable or connect to Wi-Fi.",
                              join(down, ", "));
  for (const auto& a : c.f.adapters)
    d.evidence.push_back(fmt::format("adapter {}: {}", a.name, a.is_up ? "up" : "down"));
  return d;
}

std::optional<Draft> no_default_route(const Context& c) {
  auto up = links_up(c.f);
  if (up.empty() || first_default(c.f, kFamilyV4)) return std::nullopt;
  Draft d;
  d.text = fmt::format(
      "No IPv4 default route, although {} is up: the host knows no way to the Internet. Renew "
      "the DHCP lease of {} or check its network settings.",
      up[0]->name, up[0]->name);
  d.evidence = {fmt::format("adapter {}: up", up[0]->name), "routes: no IPv4 default route"};
  if (const RouteEntry* v6 = first_default(c.f, kFamilyV6))
    d.evidence.push_back(fmt::format("IPv6 default route via {} ({})", v6->gateway,
                                     adapter_name(c.f, v6->if_index)));
  return d;
}

std::optional<Draft> gateway_silent(const Context& c) {
  const GatewayProbe* g = silent_gateway(c.f, kFamilyV4);
  if (!g || c.f.internet_probes.v4.ok) return std::nullopt;
  Draft d;
  bool campus = campus_all_silent(c.f);
  d.text = fmt::format(
      "Gateway {} ({}) does not answer; the Internet {} unreachable. Check the cable / Wi-Fi "
      "association.",
      gateway_shown(*g), adapter_name(c.f, g->if_index), campus ? "and the campus are" : "is");
  d.evidence = {fmt::format("adapter {}: up", adapter_name(c.f, g->if_index)),
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
    d.text = fmt::format(
        "Gateway {} ({}) does not answer ping, but the Internet does: the gateway only ignores "
        "ping.",
        gateway_shown(*g), adapter_name(c.f, g->if_index));
    d.evidence = {gateway_evidence(c.f, *g), internet_evidence(c.f, family)};
    return d;
  }
  return std::nullopt;
}

std::optional<Draft> campus_logged_out(const Context& c) {
  const Facts& f = c.f;
  if (f.internet_probes.v4.ok || silent_gateway(f, kFamilyV4) || !portal_answers(f))
    return std::nullopt;
  // The portal's own word, never an empty user name: some portals leave it
  // empty for hosts that are online.
  if (f.campus_probes.login.error.find("not_online") == std::string::npos) return std::nullopt;
  std::string portal = campus_host(f, 0, "the campus portal");
  Draft d;
  d.text = fmt::format(
      "The campus portal {} answers, but says this host is not logged in (\"{}\"): the Internet "
      "stays blocked until you log in. Open http://{}/ in a browser and log in.",
      portal, f.campus_probes.login.error, portal);
  d.evidence = {
      fmt::format("portal {}: {}", portal, f.campus_probes.portal_ok ? "HTTP 200" : "answers"),
      fmt::format("login status error: {}", f.campus_probes.login.error),
      internet_evidence(f, kFamilyV4)};
  if (const GatewayProbe* g = answering_gateway(f, kFamilyV4))
    d.evidence.insert(d.evidence.begin(), gateway_evidence(f, *g));
  return d;
}

bool stale_tunnel_holds_route(const Facts& f) {
  const Adapter* t = egress_tunnel(f);
  return t && !any_core_runs(f) && !is_kernel_tunnel_name(t->name);
}

std::optional<Draft> stale_tunnel(const Context& c) {
  const Facts& f = c.f;
  if (!stale_tunnel_holds_route(f)) return std::nullopt;
  const Adapter* t = egress_tunnel(f);
  const AdapterAssessment* a = assessment_of(f, t->if_index);
  std::vector<std::string> fake_dns;
  for (const auto& s : configured_resolvers(f))
    if (is_fake_ip_style(s)) fake_dns.push_back(s);
  Draft d;
  d.text = fmt::format(
      "{} holds the IPv4 default route, but no proxy core or VPN program runs: a core that "
      "stopped left its tunnel behind{}, so traffic goes nowhere. Restart the proxy core, or "
      "remove the route (ip route del default dev {}){}.",
      t->name,
      fake_dns.empty()
          ? ""
          : fmt::format(" and DNS still points at its resolver {}", join(fake_dns, ", ")),
      t->name, fake_dns.empty() ? "" : " and restore /etc/resolv.conf");
  d.evidence = {fmt::format("IPv4 egress: {} ({}{})", t->name,
                            verdict_text(a ? a->verdict : AdapterVerdict::kTunnel),
                            a ? fmt::format(", {:.2f}", a->confidence) : ""),
                "proxy/VPN processes and services: none", internet_evidence(f, kFamilyV4)};
  for (const auto& s : fake_dns) d.evidence.push_back(fmt::format("DNS server {} (fake-IP)", s));
  return d;
}

std::optional<Draft> stale_fake_dns(const Context& c) {
  const Facts& f = c.f;
  if (egress_tunnel(f) || any_core_runs(f)) return std::nullopt;
  std::vector<std::string> fake;
  for (const auto& s : configured_resolvers(f))
    if (is_fake_ip_style(s)) fake.push_back(s);
  if (fake.empty()) return std::nullopt;
  Draft d;
  d.text = fmt::format(
      "DNS points at {}, a fake-IP resolver of a proxy core that no longer runs: name lookups "
      "through it fail. Point /etc/resolv.conf back at the network's DNS servers.",
      join(fake, ", "));
  d.evidence = {fmt::format("DNS servers: {}", join(configured_resolvers(f), ", ")),
                "proxy/VPN processes and services: none"};
  return d;
}

std::optional<Draft> tunnel_internet_silent(const Context& c) {
  const Facts& f = c.f;
  const Adapter* t = egress_tunnel(f);
  if (!t || f.internet_probes.v4.ok || stale_tunnel_holds_route(f)) return std::nullopt;
  // A core with a controller is a proxy core; anything else (a VPN client)
  // is only named as the tunnel's program.
  std::string who = "program";
  std::string advice = "Check its configuration and its log.";
  if (!f.core_infos.empty()) {
    std::string name = process_name(f, f.core_infos[0].pid);
    who = "proxy core (" + (name.empty() ? f.core_infos[0].process_name : name) + ")";
    advice = "Check the core's proxies and its log.";
  } else if (!f.proxy_processes.empty()) {
    who = "program (" + f.proxy_processes[0].name + ")";
  }
  Draft d;
  d.text = fmt::format(
      "{} does not answer through {}: the tunnel's {} may have no working upstream, or it does "
      "not pass ping. {}",
      kInternetTargetV4, t->name, who, advice);
  d.evidence = {fmt::format("IPv4 egress: {}", t->name), internet_evidence(f, kFamilyV4)};
  if (const GatewayProbe* g = answering_gateway(f, kFamilyV4))
    d.evidence.push_back(gateway_evidence(f, *g));
  return d;
}

std::optional<Draft> internet_silent(const Context& c) {
  const Facts& f = c.f;
  const RouteEntry* r = egress_default_v4(f);
  if (f.internet_probes.v4.ok || !r || egress_tunnel(f) || silent_gateway(f, kFamilyV4) ||
      c.fired("campus-logged-out"))
    return std::nullopt;
  const Adapter* a = adapter_at(f, r->if_index);
  if (!a || !a->is_up) return std::nullopt;
  Draft d;
  const GatewayProbe* g = answering_gateway(f, kFamilyV4);
  d.text = g ? fmt::format(
                   "Gateway {} ({}) answers, but the Internet ({}) does not: the fault is beyond "
                   "the gateway. Check whether the network wants a log-in, or ask its admin.",
                   gateway_shown(*g), a->name, kInternetTargetV4)
             : fmt::format(
                   "The Internet ({}) does not answer through {}. Check the link's settings, or "
                   "ask the network's admin.",
                   kInternetTargetV4, a->name);
  if (g) d.evidence.push_back(gateway_evidence(f, *g));
  d.evidence.push_back(internet_evidence(f, kFamilyV4));
  return d;
}

std::optional<Draft> dns_loopback_dead(const Context& c) {
  const Facts& f = c.f;
  auto all = configured_resolvers(f);
  std::vector<std::string> dead;
  for (const auto& s : all) {
    if (!is_loopback_dns(s) || listens_on_53(f, s)) continue;
    auto it = c.resolvers.find(s);
    if (it != c.resolvers.end() && it->second.ok) continue;
    dead.push_back(s);
  }
  if (dead.empty()) return std::nullopt;
  Draft d;
  bool only = dead.size() == all.size();
  d.text = fmt::format(
      "DNS points at {}, but nothing listens on port 53 there: {}. Start the local resolver "
      "(for example systemd-resolved) or point /etc/resolv.conf at a working server.",
      join(dead, ", "), only ? "name lookups fail" : "lookups that try it first are slowed down");
  if (!only) d.severity = Severity::kWarning;
  for (const auto& s : dead) d.evidence.push_back(fmt::format("no UDP/TCP listener on {}:53", s));
  d.evidence.push_back(fmt::format("DNS servers: {}", join(all, ", ")));
  return d;
}

// Configured resolvers (not loopback: their own rule) with an answer on record.
std::vector<std::pair<std::string, bool>> probed_resolvers(const Context& c) {
  std::vector<std::pair<std::string, bool>> out;
  for (const auto& s : configured_resolvers(c.f)) {
    if (is_loopback_dns(s)) continue;
    auto it = c.resolvers.find(s);
    if (it != c.resolvers.end()) out.emplace_back(s, it->second.ok);
  }
  return out;
}

std::vector<std::string> resolver_evidence(const Context& c) {
  std::vector<std::string> ev;
  for (const auto& [s, ok] : probed_resolvers(c))
    ev.push_back(fmt::format("DNS {}: {}", s, ok ? "answers" : "no answer"));
  return ev;
}

std::optional<Draft> dns_silent(const Context& c) {
  auto probed = probed_resolvers(c);
  if (probed.empty() || !c.f.internet_probes.v4.ok) return std::nullopt;
  if (std::any_of(probed.begin(), probed.end(), [](const auto& p) { return p.second; }))
    return std::nullopt;
  std::vector<std::string> names;
  for (const auto& p : probed) names.push_back(p.first);
  Draft d;
  d.text = fmt::format(
      "DNS server{} {} {} not answer, though the Internet ({}) does: names do not resolve, so "
      "web pages do not load. Use another DNS server or ask the network's admin.",
      names.size() > 1 ? "s" : "", join(names, ", "), names.size() > 1 ? "do" : "does",
      kInternetTargetV4);
  d.evidence = resolver_evidence(c);
  d.evidence.push_back(internet_evidence(c.f, kFamilyV4));
  return d;
}

std::optional<Draft> dns_server_silent(const Context& c) {
  auto probed = probed_resolvers(c);
  std::vector<std::string> silent, answering;
  for (const auto& [s, ok] : probed) (ok ? answering : silent).push_back(s);
  if (silent.empty() || answering.empty()) return std::nullopt;
  Draft d;
  d.text = fmt::format(
      "DNS server{} {} {} not answer ({} does): lookups that try it first wait for a time-out. "
      "Remove it from the network settings.",
      silent.size() > 1 ? "s" : "", join(silent, ", "), silent.size() > 1 ? "do" : "does",
      answering[0]);
  d.evidence = resolver_evidence(c);
  return d;
}

std::optional<Draft> dns_fake_ip(const Context& c) {
  std::vector<std::pair<std::string, std::string>> fake;  // resolver, answer
  for (const auto& [s, r] : c.resolvers)
    if (r.ok && is_fake_ip_style(r.answer)) fake.emplace_back(s, r.answer);
  const auto& p = c.f.campus_probes.probes;
  for (size_t k : {size_t{2}, size_t{3}})
    if (k < p.size() && p[k].dns && p[k].dns->ok && is_fake_ip_style(p[k].dns->answer)) {
      std::string host = campus_host(c.f, k - 1, "campus resolver");
      if (!c.resolvers.contains(host)) fake.emplace_back(host, p[k].dns->answer);
    }
  if (fake.empty()) return std::nullopt;
  Draft d;
  d.text = fmt::format(
      "DNS server {} answers with the fake-IP address {}: a proxy core answers name lookups, and "
      "those addresses only work through it.",
      fake[0].first, fake[0].second);
  for (const auto& [s, a] : fake) d.evidence.push_back(fmt::format("DNS {} -> {}", s, a));
  return d;
}

std::optional<Draft> proxy_setting_dead(const Context& c) {
  const Facts& f = c.f;
  // One finding per dead endpoint, naming every setting that points at it.
  std::vector<std::pair<std::string, std::vector<std::string>>> dead;
  for (const auto& e : f.proxy_settings.endpoints) {
    if (!is_program_setting(e.source) || !is_local_host(f, e.host)) continue;
    if (someone_listens(f, e.host, e.port)) continue;
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
  d.text = fmt::format(
      "{} point{} at {}, but nothing listens there: programs that use it cannot connect. Start "
      "the proxy or unset {}.",
      list_text(sources), sources.size() > 1 ? "" : "s", where, list_text(sources));
  for (const auto& [w, s] : dead)
    d.evidence.push_back(fmt::format("{} -> {}: no listener", join(s, ", "), w));
  return d;
}

std::optional<Draft> tunnel_default_route(const Context& c) {
  const Facts& f = c.f;
  const Adapter* t = egress_tunnel(f);
  if (!t || stale_tunnel_holds_route(f)) return std::nullopt;
  const AdapterAssessment* a = assessment_of(f, t->if_index);
  std::string owner;
  std::vector<std::string> apps;
  if (!f.core_infos.empty()) {
    const CoreControllerInfo& core = f.core_infos[0];
    std::string name = process_name(f, core.pid);
    owner = fmt::format("owned by {} (pid {})", name.empty() ? core.process_name : name, core.pid);
    apps = captured_apps(core);
  } else if (!f.proxy_processes.empty()) {
    owner = fmt::format("probably owned by {} (pid {})", f.proxy_processes[0].name,
                        f.proxy_processes[0].pid);
  } else {
    owner = "owned by a kernel tunnel or a service";
  }
  std::string apps_text;
  if (!f.core_infos.empty())
    apps_text = apps.empty()
                    ? "; the proxy core reports no connections"
                    : fmt::format("; the proxy core reports {}'s connections", list_text(apps));
  Draft d;
  d.text = fmt::format("All IPv4 traffic goes through {} ({}{}), {}{}.", t->name,
                       verdict_text(a ? a->verdict : AdapterVerdict::kTunnel),
                       a ? fmt::format(", {:.2f}", a->confidence) : "", owner, apps_text);
  d.evidence = {fmt::format("IPv4 egress: {}", t->name)};
  if (a)
    for (const auto& r : a->reasons) d.evidence.push_back(fmt::format("{}: {}", t->name, r));
  for (const auto& p : f.proxy_processes)
    d.evidence.push_back(fmt::format("process {} (pid {})", p.name, p.pid));
  return d;
}

std::optional<Draft> route_source_mismatch(const Context& c) {
  const RouteSourceProbe& r = c.f.route_source;
  if (!r.mismatch) return std::nullopt;
  Draft d;
  d.text = fmt::format(
      "A test connection left from {} ({}), but the route table sends it through {}: a proxy "
      "core or policy routing redirects traffic.",
      r.source_address, adapter_name(c.f, r.socket_if_index), adapter_name(c.f, r.route_if_index));
  d.evidence = {fmt::format("route lookup: {}", adapter_name(c.f, r.route_if_index)),
                fmt::format("socket source {} on {}", r.source_address,
                            adapter_name(c.f, r.socket_if_index))};
  return d;
}

InterceptionLevel effective_level(const Context& c) { return c.f.interception.effective; }

std::optional<Draft> interception_at(const Context& c, InterceptionLevel level) {
  if (effective_level(c) != level) return std::nullopt;
  const InterceptionAssessment& i = c.f.interception;
  std::vector<std::string> spots;
  for (const auto& l : i.protocol_proxy_listeners) {
    std::string name = process_name(c.f, l.pid);
    if (name.empty()) name = l.process_name;
    spots.push_back(
        fmt::format("{} ({}, {})", endpoint_text(l.host, l.port), name, protocol_text(l.protocol)));
  }
  Draft d;
  std::string signals;
  for (size_t k = 0; k < i.signals.size() && k < 2; ++k) signals += (k ? "; " : "") + i.signals[k];
  d.text = spots.empty()
               ? fmt::format("Traffic interception is {} (score {:g}): {}.", level_text(level),
                             i.score, signals)
               : fmt::format(
                     "Traffic interception is {} (score {:g}): local proxies answer on {}; "
                     "programs set to use them send their traffic there.",
                     level_text(level), i.score, join(spots, ", "));
  d.evidence = i.signals;
  return d;
}

// The graph found that the local proxies carry only the traffic of programs
// told to use them.
std::optional<Draft> explicit_proxy(const Context& c) {
  const Facts& f = c.f;
  if (effective_level(c) != InterceptionLevel::kExplicitProxy) return std::nullopt;
  std::vector<std::string> sources, targets;
  for (const auto& e : f.proxy_settings.endpoints) {
    if (!is_program_setting(e.source) || !someone_listens(f, e.host, e.port)) continue;
    if (std::find(sources.begin(), sources.end(), e.source) == sources.end())
      sources.push_back(e.source);
    std::string owner;
    for (const auto& l : f.tcp_listeners)
      if (l.local_port == e.port && owner.empty()) owner = process_name(f, l.pid);
    std::string t = endpoint_text(e.host, e.port) + (owner.empty() ? "" : " (" + owner + ")");
    if (std::find(targets.begin(), targets.end(), t) == targets.end()) targets.push_back(t);
  }
  Draft d;
  std::string egress = f.egress_v4 ? adapter_name(f, f.egress_v4->if_index) : "";
  d.text =
      targets.empty()
          ? "Programs set to use a local proxy send their traffic through it; other "
            "traffic leaves directly."
          : fmt::format(
                "Programs that follow {} send their traffic to {}; other traffic leaves "
                "directly{}.",
                list_text(sources), list_text(targets), egress.empty() ? "" : " through " + egress);
  d.evidence = f.interception.signals;
  for (const auto& s : sources) d.evidence.push_back(fmt::format("proxy setting {}", s));
  return d;
}

std::optional<Draft> interception_likely(const Context& c) {
  return interception_at(c, InterceptionLevel::kLikely);
}
std::optional<Draft> interception_possible(const Context& c) {
  return interception_at(c, InterceptionLevel::kPossible);
}

std::optional<Draft> ipv6_broken(const Context& c) {
  const Facts& f = c.f;
  const RouteEntry* r = first_default(f, kFamilyV6);
  if (!r || f.internet_probes.v6.ok || !f.internet_probes.v4.ok) return std::nullopt;
  std::string name = adapter_name(f, r->if_index);
  Draft d;
  d.text = fmt::format(
      "IPv6 has a default route via {} ({}), but {} does not answer over IPv6 while IPv4 works: "
      "programs that try IPv6 first may stall. Ask the network's admin to fix IPv6, or turn "
      "IPv6 off on {}.",
      r->gateway.empty() ? "no gateway" : r->gateway, name, kInternetTargetV6, name);
  d.evidence = {fmt::format("IPv6 default route via {} ({})", r->gateway, name),
                internet_evidence(f, kFamilyV6), internet_evidence(f, kFamilyV4)};
  if (const GatewayProbe* g = silent_gateway(f, kFamilyV6))
    d.evidence.push_back(gateway_evidence(f, *g));
  return d;
}

std::optional<Draft> campus_dns_silent(const Context& c) {
  const Facts& f = c.f;
  if (!f.campus_probes.portal_ok) return std::nullopt;
  std::vector<std::string> silent;
  const auto& p = f.campus_probes.probes;
  for (size_t k : {size_t{2}, size_t{3}}) {
    if (k >= p.size() || !p[k].dns || p[k].dns->ok) continue;
    std::string host = campus_host(f, k - 1, "a campus resolver");
    // Already told as the host's own DNS failing.
    auto conf = configured_resolvers(f);
    if (c.fired("dns-silent") && std::find(conf.begin(), conf.end(), host) != conf.end()) continue;
    silent.push_back(host);
  }
  if (silent.empty()) return std::nullopt;
  Draft d;
  d.text = fmt::format(
      "Campus DNS {} {} not answer while the portal does: campus names may not resolve. Tell "
      "the campus network's help desk.",
      join(silent, ", "), silent.size() > 1 ? "do" : "does");
  d.evidence = {fmt::format("portal {}: HTTP 200", campus_host(f, 0, "portal"))};
  for (const auto& s : silent) d.evidence.push_back(fmt::format("campus DNS {}: no answer", s));
  return d;
}

std::optional<Draft> campus_api_silent(const Context& c) {
  const Facts& f = c.f;
  const auto& p = f.campus_probes.probes;
  if (!f.campus_probes.portal_ok || p.size() <= 4) return std::nullopt;
  const CampusProbeResult& api = p[4];
  if ((api.http && api.http->status != 0) || api.tcp_fallback == TcpFallback::kConnected)
    return std::nullopt;
  std::string host = campus_host(f, 3, "the campus API");
  Draft d;
  d.text = fmt::format(
      "The campus API {} does not answer while the portal does: logging in with the campus "
      "client may fail; log in through the portal page instead.",
      host);
  d.evidence = {fmt::format("portal {}: HTTP 200", campus_host(f, 0, "portal")),
                fmt::format("campus API {}: no HTTP answer, TCP connect failed", host)};
  return d;
}

std::optional<Draft> all_clear(const Context& c) {
  for (const auto& x : c.found)
    if (x.severity == Severity::kProblem || x.severity == Severity::kWarning) return std::nullopt;
  const Facts& f = c.f;
  std::vector<std::string> parts, ev;
  if (!links_up(f).empty()) parts.push_back("link");
  if (!f.gateway_probes.empty() && std::all_of(f.gateway_probes.begin(), f.gateway_probes.end(),
                                               [](const GatewayProbe& g) { return g.ok; }))
    parts.push_back("gateway");
  auto probed = probed_resolvers(c);
  if (std::any_of(probed.begin(), probed.end(), [](const auto& p) { return p.second; }))
    parts.push_back("DNS");
  if (f.internet_probes.v4.ok) parts.push_back("Internet");
  if (f.campus_probes.portal_ok) parts.push_back("campus portal");
  std::string text = "No problem found";
  if (!parts.empty())
    text += fmt::format(": {} answer{}", list_text(parts), parts.size() > 1 ? "" : "s");
  if (effective_level(c) == InterceptionLevel::kNone) text += "; no interception";
  Draft d;
  d.text = text + ".";
  for (const auto& g : f.gateway_probes) d.evidence.push_back(gateway_evidence(f, g));
  for (const auto& e : resolver_evidence(c)) d.evidence.push_back(e);
  d.evidence.push_back(internet_evidence(f, kFamilyV4));
  d.evidence.push_back(internet_evidence(f, kFamilyV6));
  d.evidence.push_back(fmt::format("interception level: {}", level_text(effective_level(c))));
  return d;
}

// Evaluated top to bottom; a rule may look at what earlier rows found. The
// listing is then ordered by severity, rows of one severity in this order.
constexpr Rule kRules[] = {
    {"no-adapter-up", Severity::kProblem, no_link_up},
    {"no-default-route", Severity::kProblem, no_default_route},
    {"gateway-silent", Severity::kProblem, gateway_silent},
    {"stale-tunnel", Severity::kProblem, stale_tunnel},
    {"stale-fake-ip-dns", Severity::kProblem, stale_fake_dns},
    {"campus-logged-out", Severity::kProblem, campus_logged_out},
    {"internet-silent", Severity::kProblem, internet_silent},
    {"proxy-setting-dead", Severity::kProblem, proxy_setting_dead},
    {"dns-loopback-dead", Severity::kProblem, dns_loopback_dead},
    {"dns-silent", Severity::kProblem, dns_silent},
    {"tunnel-internet-silent", Severity::kWarning, tunnel_internet_silent},
    {"ipv6-broken", Severity::kWarning, ipv6_broken},
    {"dns-server-silent", Severity::kWarning, dns_server_silent},
    {"route-source-mismatch", Severity::kWarning, route_source_mismatch},
    {"interception-likely", Severity::kWarning, interception_likely},
    {"campus-dns-silent", Severity::kWarning, campus_dns_silent},
    {"campus-api-silent", Severity::kWarning, campus_api_silent},
    {"tunnel-default-route", Severity::kNote, tunnel_default_route},
    {"gateway-ignores-ping", Severity::kNote, gateway_ignores_ping},
    {"dns-fake-ip", Severity::kNote, dns_fake_ip},
    {"interception-possible", Severity::kNote, interception_possible},
    {"explicit-proxy", Severity::kNote, explicit_proxy},
    {"all-clear", Severity::kOk, all_clear},
};

}  // namespace

std::string_view severity_text(Severity severity) {
  switch (severity) {
    case Severity::kProblem:
      return "PROBLEM";
    case Severity::kWarning:
      return "WARNING";
    case Severity::kNote:
      return "NOTE";
    case Severity::kOk:
      break;
  }
  return "OK";
}

std::vector<Finding> diagnose(const Facts& facts, const ResolverResults& resolvers) {
  Context c{facts, resolvers, {}};
  for (const Rule& rule : kRules) {
    std::optional<Draft> d = rule.check(c);
    if (!d) continue;
    c.found.push_back(Finding{d->severity.value_or(rule.severity), std::string(rule.code),
                              std::move(d->text), std::move(d->evidence)});
  }
  std::stable_sort(c.found.begin(), c.found.end(),
                   [](const Finding& a, const Finding& b) { return a.severity < b.severity; });
  return std::move(c.found);
}

}  // namespace corvale
