// The diagnosis rules on the facts of the lab's `many` scenario (a wired host
// with an xray stand-in on 300 loopback ports, half answering SOCKS5, half
// HTTP 407), and on a tunnel host whose core reports 500 connections (the
// rules parse each of them to name the applications).
#include <benchmark/benchmark.h>

#include <string>

#include "facts/findings.h"

namespace corvale {
namespace {

Adapter adapter(const std::string& name, uint32_t if_index, uint32_t if_type, bool up) {
  Adapter a;
  a.name = a.description = name;
  a.if_index = if_index;
  a.if_type = if_type;
  a.is_up = up;
  return a;
}

Facts wired_host() {
  Facts f;
  f.adapters = {adapter("lo", 1, kIfTypeLoopback, true),
                adapter("enp3s0", 2, kIfTypeEthernet, true),
                adapter("wlp2s0", 3, kIfTypeWireless, false)};
  f.adapters[1].ipv4_addresses = {{"192.168.50.10", 24}};
  f.adapters[1].ipv6_addresses = {{"2001:db8:50::10", 64}};
  for (auto& a : f.adapters) a.dns_servers = {"10.0.32.32", "10.0.32.33"};
  f.routes = {{"0.0.0.0", "192.168.50.1", 2, 100, kFamilyV4, 0},
              {"::", "fe80::1", 2, 100, kFamilyV6, 0}};
  f.egress_v4 = RouteLookup{2, "192.168.50.1", "192.168.50.10", kFamilyV4};
  f.gateway_probes = {{"192.168.50.1", 2, kFamilyV4, true}, {"fe80::1%2", 2, kFamilyV6, true}};
  f.internet_probes = {{true, 1}, {true, 1}};
  f.local_addresses = {"127.0.0.1", "192.168.50.10", "2001:db8:50::10"};
  f.campus_probes.portal_ok = true;
  f.campus_probes.probes.resize(5);
  f.campus_probes.probes[4].http = HttpResponse{"", 1, 200};
  return f;
}

Facts many_host() {
  Facts f = wired_host();
  f.processes_by_pid[40] = {40, "xray", "/usr/bin/python3", "xray"};
  f.proxy_processes = {f.processes_by_pid[40]};
  for (uint16_t i = 0; i < 300; ++i) {
    uint16_t port = static_cast<uint16_t>(20000 + i);
    f.tcp_listeners.push_back({"127.0.0.1", port, "", 0, kTcpListen, 40});
    ProxyCandidateAssessment a;
    a.host = "127.0.0.1";
    a.port = port;
    a.pid = 40;
    a.protocol = i % 2 ? ProxyProtocol::kHttpConnect : ProxyProtocol::kSocks5;
    a.level = CandidateLevel::kCandidate;
    f.proxy_candidates.assessments.push_back(a);
    if (i < 108) f.interception.protocol_proxy_listeners.push_back(a);
  }
  f.tcp_sockets = f.tcp_listeners;
  f.proxy_settings.endpoints = {{"HTTP_PROXY", "127.0.0.1", "http", 20001},
                                {"ALL_PROXY", "127.0.0.1", "socks5", 20000},
                                {"https_proxy", "127.0.0.1", "http", 7890}};
  f.interception.level = f.interception.effective = InterceptionLevel::kPossible;
  f.interception.score = 6;
  f.interception.signals = {"proxy protocol detected on local listener owner process(es)"};
  return f;
}

Facts busy_tunnel_host() {
  Facts f = wired_host();
  f.adapters.push_back(adapter("tun0", 4, kIfTypeTunnel, true));
  f.routes.insert(f.routes.begin(), {"0.0.0.0", "", 4, 10, kFamilyV4, 0});
  f.egress_v4 = RouteLookup{4, std::nullopt, "198.18.0.1", kFamilyV4};
  f.assessments_by_index[4].verdict = AdapterVerdict::kTunnel;
  f.assessments_by_index[4].confidence = 0.98;
  f.processes_by_pid[3] = {3, "mihomo", "/usr/bin/mihomo", "mihomo -d /etc/mihomo"};
  f.proxy_processes = {f.processes_by_pid[3]};
  CoreControllerInfo core;
  core.pid = 3;
  core.process_name = "mihomo";
  for (int i = 0; i < 500; ++i) {
    CoreConnection c;
    c.id = std::to_string(i);
    c.network = "tcp";
    c.inbound_type = "HTTP";
    c.source_ip = "127.0.0.1";
    c.destination_ip = "203.0.113.80";
    c.source_port = static_cast<uint16_t>(40000 + i);
    c.destination_port = 443;
    c.host = "example.org";
    c.process = "app" + std::to_string(i % 12);
    c.process_path = "/usr/bin/app";
    c.upload = 517;
    c.chains = {"hk-01", "Proxy"};
    core.connections.push_back(std::move(c));
  }
  f.core_infos = {core};
  f.interception.level = f.interception.effective = InterceptionLevel::kVisibleTunnel;
  return f;
}

void BM_DiagnoseMany(benchmark::State& state) {
  Facts f = many_host();
  ResolverResults dns = {{"10.0.32.32", {"203.0.113.80", 1, true}},
                         {"10.0.32.33", {"203.0.113.80", 1, true}}};
  for (auto _ : state) benchmark::DoNotOptimize(diagnose(f, dns));
}
BENCHMARK(BM_DiagnoseMany)->Unit(benchmark::kMicrosecond);

void BM_DiagnoseTunnelWith500Connections(benchmark::State& state) {
  Facts f = busy_tunnel_host();
  for (auto _ : state) benchmark::DoNotOptimize(diagnose(f, {}));
}
BENCHMARK(BM_DiagnoseTunnelWith500Connections)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace corvale

BENCHMARK_MAIN();
