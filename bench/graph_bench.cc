// Cost of the graph build on a busy host like the lab's `many` scenario: 8
// adapters, 4 default routes, 300 listeners, 2,000 established sockets and
// 300 processes; and the per-operation cost of the builder at 10 and 1,000
// nodes.
#include <benchmark/benchmark.h>

#include <string>

#include "facts/adapter_assessment.h"
#include "graph/build_context.h"
#include "graph/graph.h"

namespace corvale {
namespace {

Facts busy_host() {
  Facts f;
  const char* names[] = {"lo", "enp3s0", "wlp2s0", "tun0", "eth1", "eth2", "eth3", "eth4"};
  for (uint32_t i = 0; i < 8; ++i) {
    Adapter a;
    a.name = names[i];
    a.if_index = i + 1;
    a.if_type = i == 0 ? kIfTypeLoopback : i == 3 ? kIfTypeTunnel : kIfTypeEthernet;
    a.is_up = i != 2;
    std::string v4 = i == 0 ? "127.0.0.1" : i == 3 ? "198.18.0.1" : fmt::format("10.{}.0.10", i);
    a.ipv4_addresses.push_back({v4, 24});
    a.ipv6_addresses.push_back({fmt::format("2001:db8:{}::10", i), 64});
    a.dns_servers = {"10.0.32.32", "10.0.32.33"};
    f.local_addresses.insert(v4);
    f.adapters.push_back(a);
    AdapterAssessment as;
    as.verdict = i == 3   ? AdapterVerdict::kTunnel
                 : i == 0 ? AdapterVerdict::kOther
                          : AdapterVerdict::kCarrier;
    as.confidence = 0.9;
    f.assessments_by_index[a.if_index] = as;
  }
  // Four default routes: the tunnel is selected, three carriers stand by.
  f.routes = {{"0.0.0.0", "", 4, 10, kFamilyV4, 0},
              {"0.0.0.0", "10.2.0.1", 2, 100, kFamilyV4, 0},
              {"0.0.0.0", "10.5.0.1", 5, 200, kFamilyV4, 0},
              {"::", "fe80::1", 2, 100, kFamilyV6, 0}};
  f.default_route_v4 = f.routes[0];
  f.default_route_v6 = f.routes[3];
  for (uint32_t pid = 100; pid < 400; ++pid)
    f.processes_by_pid[pid] = {pid, pid == 100 ? "xray" : fmt::format("app{}", pid),
                               fmt::format("/usr/bin/app{}", pid), ""};
  f.proxy_processes = {f.processes_by_pid[100]};
  for (uint16_t port = 20000; port < 20300; ++port) {
    SocketEntry l{"127.0.0.1", port, "", 0, kTcpListen, 100};
    f.tcp_listeners.push_back(l);
    f.tcp_sockets.push_back(l);
    ProxyCandidateAssessment a;
    a.host = "127.0.0.1";
    a.port = port;
    a.pid = 100;
    a.process_name = "xray";
    a.level = CandidateLevel::kCandidate;
    a.protocol = port % 2 == 0 ? ProxyProtocol::kSocks5 : ProxyProtocol::kHttpConnect;
    a.score = 12.5;
    f.proxy_candidates.assessments.push_back(a);
    f.proxy_candidates.candidates.push_back(a);
  }
  for (int i = 0; i < 2000; ++i)
    f.tcp_sockets.push_back({i % 2 ? "10.2.0.10" : "198.18.0.1", static_cast<uint16_t>(30000 + i),
                             fmt::format("203.0.113.{}", i % 250), 443, kTcpEstablished,
                             static_cast<uint32_t>(100 + i % 300)});
  f.interception.level = InterceptionLevel::kLikely;
  f.interception.confidence = 0.66;
  for (int i = 0; i < 10; ++i) f.interception.signals.push_back(fmt::format("signal {}", i));
  return f;
}

ProbeResults warm(const Facts& f) {
  ProbeResults w;
  for (const auto& r : f.routes) w.pings[pingable_gateway(r)] = {true, 1};
  for (const char* h : {"223.5.5.5", "2400:3200::1", "10.0.0.55", "10.0.0.54", "fe80::1%2"})
    w.pings[h] = {true, 1};
  for (const char* r : {"10.0.32.32", "10.0.32.33"}) w.dns[r] = {"203.0.113.80", 2, true};
  return w;
}

GraphHooks offline_hooks() {
  GraphHooks h;
  h.ping = [](const std::string&) { return PingResult{}; };
  h.dns = [](const std::string&, uint64_t) { return DnsProbeResult{}; };
  h.env = [](const char*) { return std::optional<std::string>(); };
  return h;
}

void BM_EgressCardsOfBusyHost(benchmark::State& state) {
  Facts f = busy_host();
  ProbeResults w = warm(f);
  GraphHooks hooks = offline_hooks();
  for (auto _ : state) {
    GraphBuilder b;
    BuildContext ctx(f, b, w, hooks);
    for (const auto& r : f.routes)
      if (r.if_index != 4) benchmark::DoNotOptimize(add_egress_chain(ctx, r, false));
    benchmark::DoNotOptimize(add_tunnel_card(ctx, f.routes[0]));
  }
}
BENCHMARK(BM_EgressCardsOfBusyHost)->Unit(benchmark::kMillisecond);

void BM_GraphBuildBusyHost(benchmark::State& state) {
  Facts f = busy_host();
  ProbeResults w = warm(f);
  GraphHooks hooks = offline_hooks();
  size_t nodes = 0, edges = 0, misses = 0;
  for (auto _ : state) {
    GraphBuildResult r = build_graph(f, w, hooks);
    nodes = r.graph.nodes.size();
    edges = r.graph.edges.size();
    misses = r.ping_misses + r.dns_misses;
    benchmark::DoNotOptimize(r);
  }
  state.counters["nodes"] = static_cast<double>(nodes);
  state.counters["edges"] = static_cast<double>(edges);
  state.counters["misses"] = static_cast<double>(misses);
}
BENCHMARK(BM_GraphBuildBusyHost)->Unit(benchmark::kMillisecond);

// A graph of `n` nodes with 24 rows each and an edge between neighbours:
// the cost per operation stays flat as n grows.
void BM_BuilderOperations(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<std::string> ids, rows;
  for (int i = 0; i < n; ++i) ids.push_back(fmt::format("proc-{}-l2", i));
  for (int r = 0; r < 24; ++r) rows.push_back(fmt::format("listen-127.0.0.1-{}", 20000 + r));
  for (auto _ : state) {
    GraphBuilder b;
    for (int i = 0; i < n; ++i) {
      b.add_node(ids[i], "xray", "proxy core", "core", "OK");
      for (const auto& r : rows) b.add_item(ids[i], GraphBuilder::make_item(r, "listen", r));
      if (i > 0) b.add_edge(ids[i - 1], rows[0], ids[i], 0.8, "likely", "local relation");
    }
    // Every duplicate is looked up and absorbed, too.
    for (int i = 0; i < n; ++i) {
      b.add_node(ids[i], "dup", "", "core", "");
      b.add_item(ids[i], GraphBuilder::make_item(rows[5], "dup", ""));
      if (i > 0) b.add_edge(ids[i - 1], rows[0], ids[i], 0.9, "main", "stronger");
    }
    benchmark::DoNotOptimize(b.node_count());
  }
  // Operations per iteration: 2n nodes, 25n rows, about 2n edges.
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n) * (2 + 25 + 2));
}
BENCHMARK(BM_BuilderOperations)->Arg(10)->Arg(160)->Arg(1000);

}  // namespace
}  // namespace corvale

BENCHMARK_MAIN();
