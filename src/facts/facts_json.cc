#include "facts/facts_json.h"

#include <nlohmann/json.hpp>

#include "facts/proxy_settings.h"
#include "util/enum_text.h"
#include "util/version.h"

namespace corvale {
namespace {

using Json = nlohmann::ordered_json;

// The layout of this document; raised whenever a key is removed or changes
// meaning, so scripts can tell which layout they read.
constexpr int kFormatVersion = 1;

template <typename T, typename F>
Json array_of(const std::vector<T>& items, F to_json) {
  Json a = Json::array();
  for (const auto& x : items) a.push_back(to_json(x));
  return a;
}

Json strings(const std::vector<std::string>& v) {
  return array_of(v, [](const auto& s) { return Json(s); });
}

template <typename T>
Json optional_of(const std::optional<T>& v) {
  return v ? Json(*v) : Json(nullptr);
}

Json address_json(const InterfaceAddress& a) {
  return {{"address", a.address}, {"prefix_length", a.prefix_length}};
}

Json adapter_json(const Adapter& a) {
  return {{"name", a.name},
          {"description", a.description},
          {"if_index", a.if_index},
          {"if_type", a.if_type},
          {"is_up", a.is_up},
          {"dhcp_enabled", a.dhcp_enabled},
          {"mac_address", a.mac_address},
          {"mtu", a.mtu},
          {"link_speed_bps", a.link_speed_bps},
          {"ipv4_addresses", array_of(a.ipv4_addresses, address_json)},
          {"ipv6_addresses", array_of(a.ipv6_addresses, address_json)},
          {"dns_servers", strings(a.dns_servers)},
          {"link_kind", a.link_kind}};
}

Json route_json(const RouteEntry& r) {
  Json j = {{"destination", r.destination}, {"gateway", r.gateway},
            {"if_index", r.if_index},       {"metric", r.metric},
            {"family", r.family},           {"prefix_length", r.prefix_length}};
  // Main-table routes print as they always have.
  if (!r.table.empty()) {
    j["table"] = r.table;
    j["rule_priority"] = r.rule_priority;
  }
  return j;
}

Json rule_json(const PolicyRule& r) {
  return {{"priority", r.priority},
          {"family", r.family},
          {"table", r.table},
          {"action", r.action},
          {"invert", r.invert},
          {"fwmark", r.fwmark},
          {"iif", r.iif},
          {"oif", r.oif},
          {"narrow", r.narrow},
          {"uid_start", optional_of(r.uid_start)},
          {"uid_end", optional_of(r.uid_end)},
          {"suppress_prefixlength", optional_of(r.suppress_prefixlength)},
          {"table_routes", r.table_routes}};
}

Json lookup_json(const std::optional<RouteLookup>& l) {
  if (!l) return nullptr;
  return {{"if_index", l->if_index},
          {"via", optional_of(l->via)},
          {"source", optional_of(l->source)},
          {"family", l->family}};
}

Json device_json(const DeviceRecord& d) {
  return {{"instance_id", d.instance_id},
          {"service", d.service},
          {"status", d.status},
          {"name", d.name},
          {"mac_address", d.mac_address}};
}

Json assessment_json(const AdapterAssessment& a) {
  return {{"verdict", verdict_text(a.verdict)},
          {"confidence", a.confidence},
          {"tunnel_score", a.tunnel_score},
          {"carrier_score", a.carrier_score},
          {"reasons", strings(a.reasons)},
          {"fake_ip_addresses", strings(a.fake_ip_addresses)},
          {"fake_ip_dns", strings(a.fake_ip_dns)},
          {"loopback_dns", strings(a.loopback_dns)},
          {"fake_ip_addresses_text", a.fake_ip_addresses_text},
          {"fake_ip_dns_text", a.fake_ip_dns_text},
          {"loopback_dns_text", a.loopback_dns_text},
          {"name", a.name},
          {"is_virtual", a.is_virtual},
          {"has_default_route", a.has_default_route},
          {"has_conventional_gateway", a.has_conventional_gateway},
          {"physical", a.physical}};
}

Json socket_json(const SocketEntry& s) {
  return {{"local_address", s.local_address},
          {"local_port", s.local_port},
          {"remote_address", s.remote_address},
          {"remote_port", s.remote_port},
          {"state", s.state},
          {"pid", s.pid},
          // local_address reads 0.0.0.0 for a socket on :: that takes IPv4
          // too; without this a reader could not tell it takes IPv6 as well.
          {"dual_stack", s.dual_stack}};
}

Json process_json(const ProcessInfo& p) {
  return {{"pid", p.pid},
          {"name", p.name},
          {"exe_path", p.exe_path},
          {"command_line", redact_command_line(p.command_line)}};
}

Json service_json(const ServiceEntry& s) {
  return {{"name", s.name},
          {"load_state", optional_of(s.load_state)},
          {"status", s.status},
          {"path", s.path}};
}

Json endpoint_json(const ProxyEndpoint& e) {
  return {{"source", e.source}, {"host", e.host}, {"scheme", e.scheme}, {"port", e.port}};
}

Json proxy_settings_json(const ProxySettings& p) {
  return {{"proxy_server", redact_proxy_credentials(p.proxy_server)},
          {"proxy_enabled", p.proxy_enabled},
          {"proxy_override", redact_proxy_credentials(p.proxy_override)},
          {"auto_config_url", redact_proxy_credentials(p.auto_config_url)},
          {"auto_detect", p.auto_detect},
          {"desktop", p.desktop},
          {"winhttp_text", redact_proxy_credentials(p.winhttp_text)},
          {"endpoints", array_of(p.endpoints, endpoint_json)},
          {"config_controllers", array_of(p.config_controllers, endpoint_json)}};
}

Json route_source_json(const RouteSourceProbe& r) {
  return {{"connected", r.connected},
          {"source_address", r.source_address},
          {"route_if_index", r.route_if_index},
          {"socket_if_index", r.socket_if_index},
          {"mismatch", r.mismatch}};
}

Json candidate_json(const ProxyCandidateAssessment& a) {
  return {{"host", a.host},
          {"port", a.port},
          {"pid", a.pid},
          {"process_name", a.process_name},
          {"remote_established", a.remote_established},
          {"live_local_clients", a.live_local_clients},
          {"score", a.score},
          {"level", level_text(a.level)},
          {"signals", a.signals},
          {"common_app", a.common_app},
          {"is_candidate", a.is_candidate},
          {"protocol", protocol_text(a.protocol)},
          {"connect_verdict", a.connect_verdict},
          {"probed", a.probed},
          {"eligible", a.eligible}};
}

Json proxy_entry_json(const ProxyEntry& p) {
  return {{"name", p.name}, {"type", p.type}, {"server", p.server}, {"port", p.port}};
}

// A connection in the controller's own shape: its keys in alphabetical
// order, ports as text, as mihomo writes them.
Json connection_json(const CoreConnection& c) {
  Json metadata = {{"destinationIP", c.destination_ip},
                   {"destinationPort", std::to_string(c.destination_port)},
                   {"dnsMode", c.dns_mode},
                   {"host", c.host},
                   {"inboundIP", c.inbound_ip},
                   {"inboundName", c.inbound_name},
                   {"inboundPort", std::to_string(c.inbound_port)},
                   {"inboundUser", c.inbound_user},
                   {"network", c.network},
                   {"process", c.process},
                   {"processPath", c.process_path},
                   {"remoteDestination", c.remote_destination},
                   {"sniffHost", c.sniff_host},
                   {"sourceIP", c.source_ip},
                   {"sourcePort", std::to_string(c.source_port)},
                   {"specialProxy", c.special_proxy},
                   {"specialRules", c.special_rules},
                   {"type", c.inbound_type},
                   {"uid", c.uid}};
  return {{"chains", strings(c.chains)},
          {"download", c.download},
          {"id", c.id},
          {"metadata", std::move(metadata)},
          {"rule", c.rule},
          {"rulePayload", c.rule_payload},
          {"start", c.start},
          {"upload", c.upload}};
}

Json core_info_json(const CoreControllerInfo& c) {
  Json controller = nullptr;
  if (c.controller_text) controller = redact_proxy_credentials(*c.controller_text);
  return {{"pid", c.pid},
          {"process_name", c.process_name},
          {"config_path", optional_of(c.config_path)},
          // The lines themselves may hold the controller secret.
          {"config_line_count", c.config_lines.size()},
          {"controller_text", controller},
          {"unix_controller", optional_of(c.unix_controller)},
          {"tcp_controller_off", c.tcp_controller_off},
          {"has_secret", c.has_secret},
          {"find_process_mode", optional_of(c.find_process_mode)},
          {"tun_stack", optional_of(c.tun_stack)},
          {"runtime_tun_device", optional_of(c.runtime_tun_device)},
          {"proxies", array_of(c.proxies, proxy_entry_json)},
          {"endpoint_candidates", strings(c.endpoint_candidates)},
          {"endpoint_results", array_of(c.endpoint_results,
                                        [](const ControllerEndpointResult& r) {
                                          return Json{{"label", r.label}, {"answered", r.answered}};
                                        })},
          {"skipped_endpoints", strings(c.skipped_endpoints)},
          {"selected_controller", optional_of(c.selected_controller)},
          {"version", c.version},
          {"connections", array_of(c.connections, connection_json)}};
}

Json ping_json(const PingResult& p) { return {{"ok", p.ok}, {"rtt_ms", p.rtt_ms}}; }

Json dns_json(const DnsProbeResult& d) {
  return {{"answer", d.answer},
          {"elapsed_ms", d.elapsed_ms == kNoReplyMs ? Json(nullptr) : Json(d.elapsed_ms)},
          {"ok", d.ok}};
}

// The body is left out: portal pages are large and say nothing the status does not.
Json http_json(const HttpResponse& h) {
  return {{"status", h.status}, {"elapsed_ms", h.elapsed_ms}, {"body_bytes", h.body.size()}};
}

std::string_view fallback_text(TcpFallback f) {
  static constexpr EnumWords<TcpFallback> kWords[] = {
      {TcpFallback::kConnected, "connected"},
      {TcpFallback::kFailed, "failed"},
  };
  return enum_text(kWords, f, "not-tried");
}

Json campus_json(const CampusProbes& c) {
  return {{"reachability", array_of(c.reachability,
                                    [](const CampusHostReach& r) {
                                      return Json{{"host", r.host}, {"ping", ping_json(r.ping)}};
                                    })},
          {"probes", array_of(c.probes,
                              [](const CampusProbeResult& p) {
                                return Json{{"http", p.http ? http_json(*p.http) : Json(nullptr)},
                                            {"dns", p.dns ? dns_json(*p.dns) : Json(nullptr)},
                                            {"tcp_fallback", fallback_text(p.tcp_fallback)},
                                            {"tcp_ms", p.tcp_ms}};
                              })},
          {"portal_ok", c.portal_ok},
          {"portal_title", c.portal_title},
          {"login",
           {{"recognized", c.login.recognized},
            {"user_name", c.login.user_name},
            {"online_ip", c.login.online_ip},
            {"sum_bytes", c.login.sum_bytes},
            {"sum_seconds", c.login.sum_seconds},
            {"error", c.login.error}}}};
}

Json gateway_probe_json(const GatewayProbe& g) {
  return {{"gateway", g.gateway}, {"if_index", g.if_index}, {"family", g.family}, {"ok", g.ok}};
}

Json interception_json(const InterceptionAssessment& i) {
  return {{"score", i.score},
          {"level", level_text(i.level)},
          {"confidence", i.confidence},
          {"signals", strings(i.signals)},
          {"protocol_proxy_listeners", array_of(i.protocol_proxy_listeners, candidate_json)},
          {"protocol_proxy_processes", i.protocol_proxy_processes},
          {"proxy_like_processes", i.proxy_like_processes}};
}

Json physical_candidate_json(const PhysicalCandidate& c) {
  return {{"if_index", c.if_index},
          {"adapter", c.adapter},
          {"gateway", c.gateway},
          {"dns", c.dns},
          {"family", c.family}};
}

template <typename K, typename V, typename F>
Json object_of(const std::map<K, V>& m, F to_json) {
  Json o = Json::object();
  for (const auto& [k, v] : m) {
    if constexpr (std::is_same_v<K, std::string>)
      o[k] = to_json(v);
    else
      o[std::to_string(k)] = to_json(v);
  }
  return o;
}

Json finding_json(const Finding& x) {
  return {{"severity", std::string(severity_text(x.severity))},
          {"code", x.code},
          {"text", x.text},
          {"evidence", strings(x.evidence)}};
}

}  // namespace

std::string facts_to_json(const Facts& f, const std::vector<Finding>& findings) {
  try {
    Json j;
    j["corvale_version"] = std::string(kVersion);
    j["format_version"] = kFormatVersion;
    j["hostname"] = f.hostname;
    j["os_name"] = f.os_name;
    j["collected_at"] = f.collected_at;
    j["adapters"] = array_of(f.adapters, adapter_json);
    j["upstream_dns_servers"] = strings(f.upstream_dns_servers);
    j["routes"] = array_of(f.routes, route_json);
    j["policy_rules"] = array_of(f.policy_rules, rule_json);
    j["devices_by_mac"] = object_of(f.devices_by_mac, device_json);
    j["assessments_by_index"] = object_of(f.assessments_by_index, assessment_json);
    j["egress_v4"] = lookup_json(f.egress_v4);
    j["egress_v6"] = lookup_json(f.egress_v6);
    j["egress_v4_adapter"] =
        f.egress_v4_adapter ? adapter_json(*f.egress_v4_adapter) : Json(nullptr);
    j["default_route_v4"] = f.default_route_v4 ? route_json(*f.default_route_v4) : Json(nullptr);
    j["default_route_v6"] = f.default_route_v6 ? route_json(*f.default_route_v6) : Json(nullptr);
    j["default_gateway_v4"] = optional_of(f.default_gateway_v4);
    j["default_gateway_v6"] = optional_of(f.default_gateway_v6);
    j["tcp_sockets"] = array_of(f.tcp_sockets, socket_json);
    j["udp_sockets"] = array_of(f.udp_sockets, socket_json);
    j["tcp_listeners"] = array_of(f.tcp_listeners, socket_json);
    j["local_addresses"] =
        Json(std::vector<std::string>(f.local_addresses.begin(), f.local_addresses.end()));
    j["local_names"] = Json(std::vector<std::string>(f.local_names.begin(), f.local_names.end()));
    j["processes_by_pid"] = object_of(f.processes_by_pid, process_json);
    j["proxy_processes"] = array_of(f.proxy_processes, process_json);
    j["driver_hits"] = array_of(f.driver_hits, service_json);
    j["service_hits"] = array_of(f.service_hits, service_json);
    j["proxy_settings"] = proxy_settings_json(f.proxy_settings);
    j["route_source"] = route_source_json(f.route_source);
    j["proxy_candidates"] = {
        {"assessments", array_of(f.proxy_candidates.assessments, candidate_json)},
        {"candidates", array_of(f.proxy_candidates.candidates, candidate_json)}};
    j["core_infos"] = array_of(f.core_infos, core_info_json);
    j["gateway_probes"] = array_of(f.gateway_probes, gateway_probe_json);
    j["internet_probes"] = {{"v4", ping_json(f.internet_probes.v4)},
                            {"v6", ping_json(f.internet_probes.v6)}};
    j["campus_probes"] = campus_json(f.campus_probes);
    j["campus_routes"] = object_of(f.campus_routes, lookup_json);
    j["resolver_routes"] = object_of(f.resolver_routes, lookup_json);
    j["adapter_assessments"] = array_of(f.adapter_assessments, assessment_json);
    j["interception"] = interception_json(f.interception);
    // The level after the graph's own evidence, which can differ from the
    // host-level assessment above.
    j["interception_level"] = level_text(f.interception.effective);
    j["findings"] = array_of(findings, finding_json);
    j["physical_candidates"] = array_of(f.physical_candidates, physical_candidate_json);
    j["physical_gateway_v4"] = optional_of(f.physical_gateway_v4);
    j["physical_gateway_v6"] = optional_of(f.physical_gateway_v6);
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  } catch (const std::exception&) {
    // Only allocation can fail here; the copy is optional, the run goes on.
    return "{}\n";
  }
}

}  // namespace corvale
