#include "fuzz_facts.h"

namespace corvale::fuzz {
namespace {

const std::initializer_list<const char*> kAddresses = {
    "0.0.0.0", "::", "127.0.0.1", "::1", "192.168.1.1", "198.18.0.2", "10.0.32.32", "fe80::1%2"};
const std::initializer_list<const char*> kNames = {"eth0",   "tun0", "Meta",  "wg0",    "lo",
                                                   "mihomo", "xray", "clash", "openvpn"};

Adapter adapter(Bytes& in, uint32_t index) {
  Adapter a;
  a.name = in.text(kNames);
  a.description = in.text();
  a.if_index = index;
  const uint32_t types[] = {kIfTypeEthernet, kIfTypeLoopback, kIfTypeWireless, kIfTypeTunnel};
  a.if_type = types[in.below(4)];
  a.is_up = in.flag();
  a.mac_address = in.text();
  a.link_kind = in.text({"tun", "wireguard", ""});
  if (in.flag()) a.ipv4_addresses = {{in.text(kAddresses), in.byte()}};
  if (in.flag()) a.ipv6_addresses = {{in.text(kAddresses), in.byte()}};
  for (size_t n = in.below(3); n > 0; --n) a.dns_servers.push_back(in.text(kAddresses));
  return a;
}

}  // namespace

Facts fuzz_facts(Bytes& in, const std::string& secret) {
  Facts f;
  f.hostname = in.text();
  f.os_name = in.text();
  f.collected_at = in.text();
  for (uint32_t i = 1, n = 1 + in.below(4); i <= n; ++i) f.adapters.push_back(adapter(in, i));
  for (size_t n = in.below(5); n > 0; --n) {
    RouteEntry r{in.text({"0.0.0.0", "::"}),         in.text(kAddresses),
                 static_cast<uint32_t>(in.below(6)), in.byte(),
                 in.flag() ? kFamilyV4 : kFamilyV6,  in.byte()};
    f.routes.push_back(r);
    if (r.destination == "0.0.0.0" && !f.default_route_v4) {
      f.default_route_v4 = r;
      f.default_gateway_v4 = r.gateway;
    }
  }
  for (const auto& a : f.adapters) {
    AdapterAssessment& s = f.assessments_by_index[a.if_index];
    s.verdict = static_cast<AdapterVerdict>(1 + in.below(5));
    s.confidence = in.byte() / 100.0;
    s.name = a.name;
    if (in.flag()) s.reasons = {in.text()};
    if (in.flag()) f.local_addresses.insert(in.text(kAddresses));
  }
  if (in.flag()) {
    auto index = static_cast<uint32_t>(1 + in.below(f.adapters.size()));
    f.egress_v4 = RouteLookup{index, in.text(kAddresses), in.text(kAddresses), kFamilyV4};
    f.egress_v4_adapter = f.adapters[index - 1];
  }
  if (in.flag())
    f.egress_v6 = RouteLookup{static_cast<uint32_t>(1 + in.below(f.adapters.size())), std::nullopt,
                              in.text(kAddresses), kFamilyV6};
  for (size_t n = in.below(4); n > 0; --n) {
    ProcessInfo p{static_cast<uint32_t>(1 + in.below(8)), in.text(kNames), in.text(),
                  in.text() + " -secret " + secret + " --proxy=http://u:" + secret +
                      "@127.0.0.1:7890 " + in.text()};
    f.proxy_processes.push_back(p);
    f.processes_by_pid[p.pid] = p;
  }
  for (size_t n = in.below(4); n > 0; --n)
    f.tcp_listeners.push_back(
        {in.text(kAddresses), in.port(), "", 0, kTcpListen, static_cast<uint32_t>(in.below(9))});
  for (size_t n = in.below(3); n > 0; --n) {
    ServiceEntry s;
    s.name = in.text(kNames);
    s.path = in.text();
    (in.flag() ? f.driver_hits : f.service_hits).push_back(s);
  }
  ProxySettings& ps = f.proxy_settings;
  ps.proxy_enabled = in.flag();
  ps.proxy_server = in.text() + " http=u:" + secret +
                    "@127.0.0.1:7890;https=127.0.0.1:" + std::to_string(in.port());
  ps.winhttp_text =
      in.text() + "\n    Proxy Server(s) :  socks5://" + secret + "@[::1]:1080 " + in.text();
  ps.endpoints.push_back({in.text(), in.text(kAddresses), in.text({"http", "socks5"}), in.port()});
  if (in.flag()) {
    CoreControllerInfo c;
    c.pid = f.proxy_processes.empty() ? 0 : f.proxy_processes[0].pid;
    c.process_name = in.text(kNames);
    c.config_lines = {"secret: " + secret, in.text()};
    c.controller_text = "http://ctl:" + secret + "@127.0.0.1:9090";
    c.has_secret = true;
    c.version = in.text();
    c.tun_stack = in.text();
    c.endpoint_candidates = {in.text(kAddresses)};
    c.endpoint_results = {{in.text(), in.flag()}};
    c.proxies = {{in.text(), in.text(), in.text(), in.text()}};
    for (size_t n = in.below(3); n > 0; --n) {
      CoreConnection conn;
      conn.process = in.text(kNames);
      conn.process_path = in.text();
      conn.host = in.text();
      conn.rule = in.text();
      conn.rule_payload = in.text();
      conn.chains = {in.text()};
      c.connections.push_back(std::move(conn));
    }
    f.core_infos.push_back(std::move(c));
  }
  for (const auto& r : f.routes)
    f.gateway_probes.push_back({r.gateway, r.if_index, r.family, in.flag()});
  f.internet_probes.v4 = {in.flag(), in.byte()};
  f.internet_probes.v6 = {in.flag(), in.byte()};
  CampusProbes& c = f.campus_probes;
  c.portal_ok = in.flag();
  c.portal_title = in.text();
  c.login.error = in.text({"ok", "not_online_error"}) + in.text();
  c.login.user_name = in.text();
  c.login.recognized = in.flag();
  c.probes.resize(in.flag() ? 5 : 0);
  for (auto& p : c.probes)
    if (in.flag())
      p.http = HttpResponse{in.text(), in.byte(), static_cast<uint16_t>(in.port() % 600)};
  for (const char* h : {"10.0.0.55", "10.0.32.32", "10.0.32.33", "10.0.0.54"})
    c.reachability.push_back({h, {in.flag(), in.byte()}});
  f.route_source = {in.flag(), in.text(kAddresses), static_cast<uint32_t>(in.below(5)),
                    static_cast<uint32_t>(in.below(5)), in.flag()};
  for (size_t n = in.below(3); n > 0; --n) {
    ProxyCandidateAssessment a;
    a.host = in.text(kAddresses);
    a.port = in.port();
    a.pid = static_cast<uint32_t>(in.below(9));
    a.process_name = in.text(kNames);
    a.level = static_cast<CandidateLevel>(in.below(3));
    a.signals = in.text();
    a.protocol = static_cast<ProxyProtocol>(in.below(3));
    a.is_candidate = a.level == CandidateLevel::kCandidate;
    f.proxy_candidates.assessments.push_back(a);
    if (a.is_candidate) f.proxy_candidates.candidates.push_back(a);
  }
  InterceptionAssessment& i = f.interception;
  i.level = static_cast<InterceptionLevel>(in.below(4));
  i.score = in.byte();
  if (in.flag()) i.signals = {in.text()};
  return f;
}

}  // namespace corvale::fuzz
