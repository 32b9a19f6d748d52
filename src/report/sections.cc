#include "report/sections.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

#include "facts/adapter_assessment.h"
#include "facts/lookup.h"
#include "facts/policy_routing.h"
#include "facts/proxy_settings.h"
#include "util/html.h"
#include "util/text.h"

namespace corvale {
namespace {

// The tables leave the cell blank for an index no adapter has.
std::string adapter_cell(const Facts& f, uint32_t if_index) {
  return adapter_name(f, if_index).value_or("");
}

std::string addresses_text(const std::vector<InterfaceAddress>& list) {
  std::vector<std::string> parts;
  for (const auto& a : list) parts.push_back(a.address);
  return join(parts, ", ");
}

std::string process_cell(const Facts& f, uint32_t pid) { return process_name(f, pid).value_or(""); }

std::string adapters_table(const Facts& f) {
  std::vector<TableRow> rows;
  for (const auto& a : f.adapters)
    rows.push_back({a.is_up ? "UP" : "DOWN", a.name, a.description, speed_text(a.link_speed_bps),
                    a.mac_address});
  return html_table({"State", "Name", "Desc", "Speed", "MAC"}, rows);
}

std::string ip_configuration_table(const Facts& f) {
  std::vector<TableRow> rows;
  for (const auto& a : f.adapters) {
    if (a.ipv4_addresses.empty() && a.ipv6_addresses.empty()) continue;
    // An adapter's gateways are those of the default routes it holds.
    std::vector<std::string> gateways;
    for (const auto& r : f.routes)
      if (r.if_index == a.if_index && is_default_route(r) && has_conventional_gateway(r) &&
          std::find(gateways.begin(), gateways.end(), r.gateway) == gateways.end())
        gateways.push_back(r.gateway);
    rows.push_back({a.name, std::to_string(a.if_index), addresses_text(a.ipv4_addresses),
                    addresses_text(a.ipv6_addresses), join(gateways, ", ")});
  }
  return html_table({"Interface", "ifIndex", "IPv4", "IPv6", "Gateway"}, rows);
}

std::string dns_table(const Facts& f) {
  std::vector<TableRow> rows;
  for (const auto& a : f.adapters)
    if (a.is_up)
      rows.push_back({a.name, a.dhcp_enabled ? "Enabled" : "Disabled", join(a.dns_servers, ", ")});
  return html_table({"Interface", "DHCP", "DNS"}, rows);
}

std::string default_routes_table(const Facts& f, uint16_t family) {
  std::vector<TableRow> rows;
  for (const auto& r : f.routes)
    if (r.family == family && is_default_route(r))
      rows.push_back({std::to_string(r.if_index), adapter_cell(f, r.if_index) + table_mark(r),
                      r.gateway, std::to_string(r.metric)});
  return html_table({"ifIndex", "InterfaceAlias", "NextHop", "RouteMetric"}, rows);
}

// Linux adds no interface metric to a route's own, so the route metric is the
// effective one; lower wins, as in the console summary.
std::string egress_selection_table(const Facts& f) {
  std::vector<const RouteEntry*> defaults;
  for (const auto& r : f.routes)
    if (r.family == kFamilyV4 && is_default_route(r)) defaults.push_back(&r);
  std::stable_sort(defaults.begin(), defaults.end(), [](const RouteEntry* a, const RouteEntry* b) {
    return route_preferred(*a, *b);
  });
  std::vector<TableRow> rows;
  for (const RouteEntry* r : defaults) {
    bool selected = f.egress_v4 && f.egress_v4->if_index == r->if_index;
    rows.push_back({selected ? ">>" : "", std::to_string(r->metric),
                    adapter_cell(f, r->if_index) + table_mark(*r), r->gateway,
                    std::to_string(r->if_index)});
  }
  return html_table({"Selected", "Effective", "Interface", "NextHop", "ifIndex"}, rows);
}

std::string processes_table(const Facts& f) {
  std::vector<TableRow> rows;
  for (const auto& p : f.proxy_processes) {
    std::string path = p.exe_path;
    if (path.empty()) {
      auto it = f.processes_by_pid.find(p.pid);
      if (it != f.processes_by_pid.end()) path = it->second.exe_path;
    }
    rows.push_back({p.name, std::to_string(p.pid), path});
  }
  return html_table({"Name", "Id", "Path"}, rows);
}

bool is_proxy_like(const ProxyCandidateAssessment& a) { return is_proxy_like(a.level); }

std::string proxy_ports_table(const Facts& f) {
  std::vector<TableRow> rows;
  for (const auto& a : f.proxy_candidates.assessments)
    if (is_proxy_like(a))
      rows.push_back({a.host, std::to_string(a.port),
                      a.process_name.empty() ? process_cell(f, a.pid) : a.process_name});
  return html_table({"Addr", "LocalPort", "Process"}, rows);
}

std::string gateway_table(const Facts& f) {
  std::vector<TableRow> rows;
  for (const auto& g : f.gateway_probes)
    rows.push_back({g.gateway, g.family == kFamilyV6 ? "IPv6" : "IPv4", std::to_string(g.if_index),
                    g.ok ? "OK" : "FAIL"});
  return html_table({"Gateway", "Family", "IfIndex", "Ping"}, rows);
}

std::string internet_table(const Facts& f) {
  auto row = [&](const char* dest, const PingResult& ping, const std::optional<RouteLookup>& l) {
    return TableRow{dest, ping.ok ? "OK" : "FAIL", l ? adapter_cell(f, l->if_index) : "",
                    l ? l->source.value_or("") : ""};
  };
  return html_table({"Dest", "Result", "Egress", "Src"},
                    {row("223.5.5.5", f.internet_probes.v4, f.egress_v4),
                     row("2400:3200::1", f.internet_probes.v6, f.egress_v6)});
}

std::string wininet_list(const Facts& f) {
  const ProxySettings& s = f.proxy_settings;
  std::vector<std::pair<std::string, std::string>> rows = {
      {"ProxyEnable", bool_text(s.proxy_enabled)},
      {"ProxyServer", redact_proxy_credentials(s.proxy_server)},
      {"Override", s.proxy_override},
      {"AutoConfigURL", redact_proxy_credentials(s.auto_config_url)}};
  if (!s.desktop.empty()) {
    rows.emplace_back("AutoDetect", bool_text(s.auto_detect));
    rows.emplace_back("Desktop", s.desktop + " system proxy");
  }
  return kv_list(rows);
}

std::string winhttp_block(const Facts& f) {
  return fmt::format("<div class=\"mono\">{}</div>",
                     html_text(redact_proxy_credentials(f.proxy_settings.winhttp_text), true));
}

std::string physical_text(uint8_t physical) {
  if (physical == 1) return "true";
  if (physical == 0) return "false";
  return "";  // no device record
}

std::string adapter_roles_table(const Facts& f) {
  std::vector<TableRow> rows;
  for (size_t i = 0; i < f.adapter_assessments.size(); ++i) {
    const AdapterAssessment& a = f.adapter_assessments[i];
    // The list runs parallel to the adapters; the assessment keeps no index of its own.
    const Adapter* adapter = i < f.adapters.size() ? &f.adapters[i] : nullptr;
    std::string service;
    if (adapter) {
      auto d = f.devices_by_mac.find(to_upper(adapter->mac_address));
      if (d != f.devices_by_mac.end()) service = d->second.service;
    }
    std::vector<std::string> fake_dns = a.fake_ip_dns;
    fake_dns.insert(fake_dns.end(), a.loopback_dns.begin(), a.loopback_dns.end());
    rows.push_back({std::string(verdict_text(a.verdict)), score_text(a.confidence),
                    adapter ? std::to_string(adapter->if_index) : "", a.name,
                    physical_text(a.physical), bool_text(a.is_virtual), service,
                    adapter ? adapter->description : "", a.fake_ip_addresses_text,
                    join(fake_dns, ", "), join(a.reasons, " · ")});
  }
  return html_table({"Role", "Confidence", "ifIndex", "Name", "Physical", "Virtual", "Service",
                     "Driver", "FakeIP", "FakeDNS", "Signals"},
                    rows);
}

// One row per process that owns a proxy-like listener; its listeners are
// collapsed into counts, and its strongest listener speaks for it.
std::string candidate_processes_table(const Facts& f) {
  std::map<uint32_t, std::vector<const ProxyCandidateAssessment*>> by_pid;
  for (const auto& a : f.proxy_candidates.assessments) by_pid[a.pid].push_back(&a);
  std::vector<TableRow> rows;
  for (const auto& [pid, list] : by_pid) {
    if (std::none_of(list.begin(), list.end(), [](auto* a) { return is_proxy_like(*a); })) continue;
    const ProxyCandidateAssessment* best = list.front();
    size_t candidates = 0, protocol = 0;
    uint64_t local_clients = 0;
    uint32_t remote = 0;
    bool common_app = false;
    for (const auto* a : list) {
      if (a->score > best->score) best = a;
      if (a->level == CandidateLevel::kCandidate) ++candidates;
      if (a->protocol != ProxyProtocol::kNone) ++protocol;
      local_clients += a->live_local_clients;
      remote = std::max(remote, a->remote_established);
      common_app = common_app || a->common_app;
    }
    const ProxyCandidateAssessment* top = *std::max_element(
        list.begin(), list.end(), [](auto* a, auto* b) { return a->level < b->level; });
    rows.push_back({std::string(level_text(top->level)), std::to_string(pid),
                    best->process_name.empty() ? process_cell(f, pid) : best->process_name,
                    score_text(best->score), std::to_string(list.size()),
                    std::to_string(candidates), std::to_string(protocol),
                    std::to_string(local_clients), std::to_string(remote), bool_text(common_app),
                    best->signals});
  }
  return html_table(
      {"Tier", "PID", "Process", "MaxScore", "Listeners", "CandidateEndpoints", "ProtocolEndpoints",
       "LocalClients", "RemoteEstablished", "KnownAppPrior", "Evidence"},
      rows);
}

std::string listener_inventory_table(const Facts& f) {
  std::vector<TableRow> rows;
  for (const auto& a : f.proxy_candidates.assessments)
    rows.push_back({std::string(level_text(a.level)), endpoint_text(a.host, a.port),
                    std::to_string(a.pid),
                    a.process_name.empty() ? process_cell(f, a.pid) : a.process_name,
                    score_text(a.score), std::to_string(a.live_local_clients),
                    std::to_string(a.remote_established), bool_text(a.common_app), a.signals});
  return html_table({"Tier", "Local", "PID", "Process", "ProxyScore", "LocalClients",
                     "RemoteEstablished", "KnownAppPrior", "Signature"},
                    rows);
}

std::string drivers_table(const Facts& f) {
  std::vector<TableRow> rows;
  for (const auto* list : {&f.driver_hits, &f.service_hits}) {
    const char* type = list == &f.driver_hits ? "driver" : "service";
    for (const auto& s : *list)
      rows.push_back({type, s.name, s.load_state.value_or(""), s.status, s.path});
  }
  return html_table({"Type", "Name", "Display", "State", "Path"}, rows);
}

std::string route_source_table(const Facts& f) {
  const RouteSourceProbe& p = f.route_source;
  auto index = [](uint32_t i) { return i == 0 ? std::string() : std::to_string(i); };
  return html_table(
      {"Target", "Connected", "FindNetRouteIf", "SocketSourceIf", "Source", "Mismatch"},
      {{"1.1.1.1:443", bool_text(p.connected), index(p.route_if_index), index(p.socket_if_index),
        p.source_address, bool_text(p.mismatch)}});
}

std::string raw_evidence_list(const Facts& f) {
  const InterceptionAssessment& i = f.interception;
  return kv_list({{"Raw evidence level", std::string(level_text(i.level))},
                  {"Score", score_text(i.score)},
                  {"Signals", join(i.signals, " | ")}});
}

}  // namespace

std::string html_table(const std::vector<std::string>& headers, const std::vector<TableRow>& rows) {
  if (rows.empty()) return "<div class=\"empty\">no data</div>";
  std::string out = "<table><thead><tr>";
  for (const auto& h : headers) out += fmt::format("<th>{}</th>", html_escape(h));
  out += "</tr></thead><tbody>";
  for (const auto& row : rows) {
    out += "<tr>";
    for (const auto& cell : row) out += fmt::format("<td>{}</td>", html_text(cell));
    out += "</tr>";
  }
  out += "</tbody></table>";
  return out;
}

std::string kv_list(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string out = "<div class=\"kv\">";
  for (const auto& [k, v] : pairs)
    out += fmt::format("<div><span class=\"k\">{}</span><span class=\"v\">{}</span></div>",
                       html_escape(k), html_text(v));
  out += "</div>";
  return out;
}

std::string detail_section(std::string_view summary, std::string_view body) {
  return fmt::format("<details><summary>{}</summary><div class=\"dbody\">{}</div></details>",
                     html_escape(summary), body);
}

std::string score_text(double v) {
  if (!std::isfinite(v)) return "";
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  return s == "-0" ? "0" : s;
}

std::string bool_text(bool v) { return v ? "true" : "false"; }

std::string detail_sections(const Facts& f) {
  std::string out;
  out += detail_section("Adapters", adapters_table(f));
  out += detail_section("IP configuration", ip_configuration_table(f));
  out += detail_section("DNS servers", dns_table(f));
  out += detail_section("Default routes IPv4", default_routes_table(f, kFamilyV4));
  out += detail_section("Default routes IPv6", default_routes_table(f, kFamilyV6));
  out += detail_section("Egress selection (effective metric)", egress_selection_table(f));
  out += detail_section("Proxy / tunnel / VPN processes", processes_table(f));
  out += detail_section("Proxy listening ports", proxy_ports_table(f));
  out += detail_section("Gateway reachability", gateway_table(f));
  out += detail_section("Internet reachability", internet_table(f));
  out += detail_section("Windows proxy (WinINET)", wininet_list(f));
  out += detail_section("WinHTTP proxy", winhttp_block(f));
  return out;
}

std::string interception_sections(const Facts& f) {
  std::string out;
  out += detail_section("V5.2 adapter role assessment", adapter_roles_table(f));
  out +=
      detail_section("V5.2 proxy candidate processes (entity-level)", candidate_processes_table(f));
  out += detail_section("V5.2 all local listener inventory (audit / collapsed)",
                        listener_inventory_table(f));
  out += detail_section("V5.2 interception drivers / services", drivers_table(f));
  out += detail_section("V5.2 active route/source consistency probe", route_source_table(f));
  out += detail_section("V5.2 raw interception evidence assessment", raw_evidence_list(f));
  return out;
}

}  // namespace corvale
