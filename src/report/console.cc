#include "report/console.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "facts/adapter_assessment.h"
#include "facts/lookup.h"
#include "facts/policy_routing.h"
#include "parallel/progress.h"
#include "probe/campus.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

// A status word padded to `width` columns; the padding stays outside the
// colour so the columns line up as in plain output.
std::string padded_status(std::string_view w, size_t width, bool colour) {
  std::string out = paint_status(w, colour);
  if (w.size() < width) out.append(width - w.size(), ' ');
  return out;
}

std::string word(bool ok, bool colour) {
  std::string_view w = status_word_text(ok);
  if (w.ends_with('\n')) w.remove_suffix(1);
  return paint_status(w, colour) + "\n";
}

// Every text that comes from the host or the network (names, paths, replies)
// goes through here before it reaches the terminal.
std::string safe(std::string_view untrusted) { return terminal_safe(untrusted); }

// Blank for an index no adapter has.
std::string adapter_cell(const Facts& f, uint32_t if_index) {
  return safe(adapter_name(f, if_index).value_or(""));
}

std::string addresses(const std::vector<InterfaceAddress>& list, bool global_only) {
  std::vector<std::string> out;
  for (const auto& a : list) {
    if (global_only) {
      std::string n = normalize_ip_text(a.address);
      if (n == "::1" || n.starts_with("fe8") || n.starts_with("fe9") || n.starts_with("fea") ||
          n.starts_with("feb"))
        continue;
    }
    out.push_back(safe(a.address));
  }
  return join(out, ", ");
}

std::string adapter_gateways(const Facts& f, uint32_t if_index) {
  std::vector<std::string> gws;
  for (const auto& r : f.routes)
    if (is_default_route(r) && r.if_index == if_index && has_conventional_gateway(r) &&
        std::find(gws.begin(), gws.end(), r.gateway) == gws.end())
      gws.push_back(r.gateway);
  return safe(join(gws, ", "));
}

void section_adapters(std::string& o, const Facts& f) {
  o += banner_text("1. Physical links & tunnels");
  o += fmt::format("{:<6} {:<34} {:<15} {:<10} Description\n", "State", "Name", "MediaType",
                   "Speed");
  for (const auto& a : f.adapters)
    o += fmt::format("{:<6} {:<34} {:<15} {:<10} {}\n", a.is_up ? "[x]" : "[ ]", safe(a.name),
                     media_type_text(a.if_type), speed_text(a.link_speed_bps), safe(a.description));
  o += "  [x] = Up   [ ] = Down\n";
}

void section_ip_config(std::string& o, const Facts& f) {
  o += banner_text("2. IP config (IPv4 / public IPv6 / Gateway)");
  for (const auto& a : f.adapters) {
    o += fmt::format("  {}  (ifIndex {})\n", safe(a.name), a.if_index);
    o += fmt::format("    IPv4      : {}\n", addresses(a.ipv4_addresses, false));
    o += fmt::format("    IPv6(glob): {}\n", addresses(a.ipv6_addresses, true));
    o += fmt::format("    Gateway   : {}\n", adapter_gateways(f, a.if_index));
  }
}

void section_dns(std::string& o, const Facts& f) {
  o += banner_text("3. DNS servers");
  o += fmt::format("{:<34} {:<10} DNS\n", "Interface", "DHCP");
  for (const auto& a : f.adapters)
    o += fmt::format("{:<34} {:<10} {}\n", safe(a.name), a.dhcp_enabled ? "Enabled" : "Disabled",
                     safe(join(a.dns_servers, ", ")));
  // Behind a local stub resolver: the servers it forwards to.
  if (!f.upstream_dns_servers.empty())
    o += fmt::format("  Upstream (systemd-resolved): {}\n",
                     safe(join(f.upstream_dns_servers, ", ")));
}

void section_proxy_settings(std::string& o, const Facts& f) {
  const ProxySettings& p = f.proxy_settings;
  o += banner_text("4. Windows proxy (WinINET)");
  o += fmt::format("  ProxyEnable   : {}\n", p.proxy_enabled ? "1" : "0");
  o += fmt::format("  ProxyServer   : {}\n", safe(p.proxy_server));
  o += fmt::format("  ProxyOverride : {}\n", safe(p.proxy_override));
  o += fmt::format("  AutoConfigURL : {}\n", safe(p.auto_config_url));
  o += fmt::format("  AutoDetect    : {}\n", p.auto_detect ? "1" : "0");
  if (!p.desktop.empty())
    o += fmt::format("  Desktop       : {} system proxy ({})\n", safe(p.desktop),
                     p.desktop == "KDE" ? "kioslaverc" : "org.gnome.system.proxy");
  o += banner_text("5. WinHTTP proxy");
  std::string w = trim(p.winhttp_text);
  o += fmt::format("  {}\n", w.empty() ? "none" : safe(w));
}

void default_route_rows(std::string& o, const Facts& f, uint16_t family) {
  for (const auto& r : f.routes)
    if (r.family == family && is_default_route(r))
      o += fmt::format("    ifIndex {:<4} {:<34} {:<16} metric {}{}\n", r.if_index,
                       adapter_cell(f, r.if_index), safe(r.gateway), r.metric, safe(table_mark(r)));
}

void egress_line(std::string& o, const Facts& f, const char* fam,
                 const std::optional<RouteLookup>& lookup) {
  if (!lookup) {
    o += fmt::format("  {} egress -> none\n", fam);
    return;
  }
  o += fmt::format("  {} egress -> {} (ifIndex {})  src {}  via {}\n", fam,
                   adapter_cell(f, lookup->if_index), lookup->if_index,
                   safe(lookup->source.value_or("")), safe(lookup->via.value_or("")));
}

void section_routes(std::string& o, const Facts& f) {
  o += banner_text("6. Default routes");
  o += "  IPv4:\n";
  default_route_rows(o, f, kFamilyV4);
  o += "  IPv6:\n";
  default_route_rows(o, f, kFamilyV6);

  o += banner_text("6b. Default egress (effective metric, lower wins)");
  std::vector<const RouteEntry*> defaults;
  for (const auto& r : f.routes)
    if (is_default_route(r)) defaults.push_back(&r);
  std::stable_sort(defaults.begin(), defaults.end(), [](const RouteEntry* a, const RouteEntry* b) {
    if (a->family != b->family) return a->family < b->family;
    return route_preferred(*a, *b);
  });
  for (const RouteEntry* r : defaults)
    o += fmt::format("    {:<3} {:<6} {:<34} {:<16} ifIndex {}{}\n",
                     r->family == kFamilyV4 ? "v4" : "v6", r->metric, adapter_cell(f, r->if_index),
                     safe(r->gateway), r->if_index, safe(table_mark(*r)));
  egress_line(o, f, "IPv4", f.egress_v4);
  egress_line(o, f, "IPv6", f.egress_v6);
}

void section_processes(std::string& o, const Facts& f) {
  o += banner_text("7. Proxy / Tunnel / VPN processes");
  if (f.proxy_processes.empty()) o += "  none found\n";
  for (const auto& p : f.proxy_processes) {
    std::string path = p.exe_path;
    if (path.empty()) {
      auto it = f.processes_by_pid.find(p.pid);
      if (it != f.processes_by_pid.end()) path = it->second.exe_path;
    }
    o += fmt::format("  {:<28} {:<8} {}\n", safe(p.name), p.pid, safe(path));
  }
}

std::string owner_name(const Facts& f, uint32_t pid) {
  if (pid == 0) return "";
  return safe(process_name(f, pid).value_or(""));
}

void section_listeners(std::string& o, const Facts& f) {
  o += banner_text("8. Local listening ports (all owners; proxy scoring later)");
  if (f.tcp_listeners.empty()) o += "  none found\n";
  // The kernel lists sockets in hash order; sort so that the same host gives
  // the same table.
  std::vector<const SocketEntry*> rows;
  for (const auto& s : f.tcp_listeners) rows.push_back(&s);
  std::stable_sort(rows.begin(), rows.end(), [](const SocketEntry* a, const SocketEntry* b) {
    return std::tie(a->local_port, a->local_address, a->pid) <
           std::tie(b->local_port, b->local_address, b->pid);
  });
  for (const SocketEntry* sp : rows) {
    const SocketEntry& s = *sp;
    std::string endpoint = safe(endpoint_text(s.local_address, s.local_port));
    o += fmt::format("  {:<40} {:<8} {:<8} {}\n", endpoint, "TCP", s.pid, owner_name(f, s.pid));
  }
}

void section_gateways(std::string& o, const Facts& f, bool colour) {
  o += banner_text("9. Gateway reachability");
  if (f.gateway_probes.empty()) o += "  none found\n";
  for (const auto& g : f.gateway_probes)
    o += fmt::format("  {:<39} {} ifIndex {:<4} {}\n", safe(g.gateway),
                     padded_status(g.ok ? "OK" : "FAIL", 6, colour), g.if_index,
                     g.family == kFamilyV6 ? "IPv6" : "IPv4");
}

void section_internet(std::string& o, const Facts& f, bool colour) {
  o += banner_text("10. Internet reachability (IPv4 / IPv6)");
  o += "  223.5.5.5   IPv4 : " + word(f.internet_probes.v4.ok, colour);
  std::string v4_name = f.egress_v4 ? adapter_cell(f, f.egress_v4->if_index) : "none";
  o += fmt::format("      egress -> {}  src {}\n", v4_name,
                   safe(f.egress_v4 ? f.egress_v4->source.value_or("") : ""));
  o += "  2400:3200::1 IPv6 : " + word(f.internet_probes.v6.ok, colour);
  std::string v6_name = f.egress_v6 ? adapter_cell(f, f.egress_v6->if_index) : "none";
  o += fmt::format("      egress -> {}  src {}\n", v6_name,
                   safe(f.egress_v6 ? f.egress_v6->source.value_or("") : ""));
}

// How traffic to a campus host leaves: the adapter and next hop of the
// host's own route, which split tunnelling keeps off the default egress.
std::string campus_via(const Facts& f, const std::string& host) {
  auto it = f.campus_routes.find(host);
  if (it == f.campus_routes.end()) return "none";
  const RouteLookup& route = it->second;
  std::string name = adapter_cell(f, route.if_index);
  if (route.via && !route.via->empty()) return fmt::format("{} -> {}", name, safe(*route.via));
  return name;
}

// A resolver answer counts as intercepted by a local proxy when it is a
// fake-IP style address or the resolver's own route enters a tunnel.
bool dns_via_proxy(const Facts& f, const std::string& resolver, const DnsProbeResult& r) {
  if (is_fake_ip_style(r.answer)) return true;
  auto route = f.campus_routes.find(resolver);
  if (route == f.campus_routes.end()) return false;
  auto a = f.assessments_by_index.find(route->second.if_index);
  return a != f.assessments_by_index.end() &&
         (a->second.verdict == AdapterVerdict::kTunnel ||
          a->second.verdict == AdapterVerdict::kSuspectedTunnel);
}

void section_campus(std::string& o, const Facts& f,
                    const std::map<std::string, DnsProbeResult>& dns, bool colour) {
  const CampusProbes& c = f.campus_probes;
  o += banner_text("11. ZEK campus infra (ZekConnected targets)");
  const CampusTargets campus;
  for (const std::string& host :
       {campus.portal_host, campus.resolver_a, campus.resolver_b, campus.api_host}) {
    bool ok = false;
    for (const auto& r : c.reachability)
      if (r.host == host) ok = r.ping.ok;
    o += fmt::format("  {:<16}", host) + word(ok, colour);
    o += fmt::format("      via {}\n", campus_via(f, host));
  }
  o += "  Portal 10.0.0.55 HTTP : " + word(c.portal_ok, colour);
  o += fmt::format("      title = {}\n", safe(c.portal_title));
  o += "  Login 10.0.0.55 rad_user_info : " + word(c.login.recognized, colour);
  if (c.login.recognized)
    o += fmt::format("      id = {}   ip = {}   sum_bytes = {}   sum_seconds = {}\n",
                     safe(c.login.user_name), safe(c.login.online_ip), safe(c.login.sum_bytes),
                     safe(c.login.sum_seconds));
  else
    o += "      (unrecognized response shape)\n";
  for (const std::string& r : {campus.resolver_a, campus.resolver_b}) {
    auto it = dns.find(r);
    bool ok = it != dns.end() && it->second.ok;
    o += fmt::format("  DNS {:<16}", r) + word(ok, colour);
    std::string path = "no answer";
    bool proxy = false;
    if (ok) {
      path = fmt::format("{} in {} ms via {}", it->second.answer, it->second.elapsed_ms,
                         campus_via(f, r));
      proxy = dns_via_proxy(f, r, it->second);
    }
    o += fmt::format("      -> {}{}\n", path, proxy ? " [proxy-intercepted]" : "");
  }
  const CampusProbeResult* api = c.probes.size() > 4 ? &c.probes[4] : nullptr;
  if (api && api->http && api->http->status != 0) {
    o += "  API 10.0.0.54:8800 HTTP : " + word(true, colour);
    o += fmt::format("      status = {}\n", api->http->status);
  } else {
    bool tcp_ok = api && api->tcp_fallback == TcpFallback::kConnected;
    o += "  API 10.0.0.54:8800 HTTP : " + word(tcp_ok, colour);
    o += "      (fallback: tcp probe)\n";
  }
}

// One line per finding, most severe first. Findings quote adapter and
// process names and the portal's reply, so the line is made terminal-safe.
void section_diagnosis(std::string& o, const std::vector<Finding>& findings, bool colour) {
  if (findings.empty()) return;
  o += banner_text("12. Diagnosis");
  for (const auto& x : findings)
    o += fmt::format("{} {}\n", padded_status(severity_text(x.severity), 8, colour),
                     terminal_safe(x.display()));
}

}  // namespace

std::string paint_status(std::string_view w, bool colour) {
  if (!colour) return std::string(w);
  const char* code = nullptr;
  if (w == "OK") code = "32";
  if (w == "FAIL" || w == "PROBLEM") code = "31";
  if (w == "CHECK" || w == "WARN" || w == "WARNING") code = "33";
  if (!code) return std::string(w);
  return fmt::format("\x1b[{}m{}\x1b[0m", code, w);
}

std::string summary_text(const Facts& f, const ProbeResults& probes,
                         const std::vector<Finding>& findings, bool colour) {
  std::string o;
  section_adapters(o, f);
  section_ip_config(o, f);
  section_dns(o, f);
  section_proxy_settings(o, f);
  section_routes(o, f);
  section_processes(o, f);
  section_listeners(o, f);
  section_gateways(o, f, colour);
  section_internet(o, f, colour);
  section_campus(o, f, probes.dns, colour);
  section_diagnosis(o, findings, colour);
  return o;
}

}  // namespace corvale
