// Cost of the render-doc stage on a busy host (5,000 sockets, 1,000
// processes, 300 listeners, a 160-node graph) and SHA-256 throughput.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "report/payload.h"
#include "report/report.h"
#include "report/sha256.h"

namespace corvale {
namespace {

Facts busy_host() {
  Facts f;
  f.hostname = "busy-laptop";
  f.os_name = "Debian GNU/Linux 12 (bookworm)";
  f.collected_at = "2026-12-08 12:00:00";
  for (uint32_t i = 1; i <= 12; ++i) {
    Adapter a;
    a.name = i == 7 ? "Meta" : "eth" + std::to_string(i);
    a.description = a.name;
    a.if_index = i;
    a.is_up = true;
    a.link_speed_bps = 1'000'000'000;
    a.ipv4_addresses = {{"10.0." + std::to_string(i) + ".2", 24}};
    a.ipv6_addresses = {{"2001:db8:" + std::to_string(i) + "::2", 64}};
    a.dns_servers = {"10.0.32.32", "10.0.32.33"};
    f.adapters.push_back(a);
    f.routes.push_back({"0.0.0.0", "10.0." + std::to_string(i) + ".1", i, 100 + i, kFamilyV4, 0});
    AdapterAssessment as;
    as.verdict = i == 7 ? AdapterVerdict::kTunnel : AdapterVerdict::kCarrier;
    as.name = a.name;
    as.reasons = {"physical adapter", "default route through a gateway"};
    f.assessments_by_index[i] = as;
    f.adapter_assessments.push_back(as);
  }
  f.egress_v4 = RouteLookup{7, std::nullopt, "10.0.7.2", kFamilyV4};
  f.egress_v4_adapter = f.adapters[6];
  f.physical_candidates = {{1, "eth1", "10.0.1.1", "10.0.32.32", kFamilyV4}};
  for (uint32_t pid = 1000; pid < 2000; ++pid) {
    ProcessInfo p{pid, pid % 20 == 0 ? "mihomo" : "worker-" + std::to_string(pid),
                  "/usr/bin/worker", "worker --flag"};
    f.processes_by_pid[pid] = p;
    if (pid % 20 == 0) f.proxy_processes.push_back(p);
  }
  for (int i = 0; i < 5000; ++i) {
    SocketEntry s{"10.0.1.2",
                  static_cast<uint16_t>(20000 + i),
                  "203.0.113." + std::to_string(i % 250),
                  443,
                  kTcpEstablished,
                  static_cast<uint32_t>(1000 + i % 1000)};
    if (i < 300) {
      s = {"127.0.0.1", static_cast<uint16_t>(7000 + i),    "", 0,
           kTcpListen,  static_cast<uint32_t>(1000 + i * 3)};
      f.tcp_listeners.push_back(s);
      ProxyCandidateAssessment a;
      a.host = s.local_address;
      a.port = s.local_port;
      a.pid = s.pid;
      a.process_name = f.processes_by_pid[s.pid].name;
      a.score = i % 3 == 0 ? 12.5 : 0.5;
      a.level = i % 3 == 0 ? CandidateLevel::kCandidate : CandidateLevel::kInventory;
      a.signals = "SOCKS5 negotiation + known proxy/tunnel process identity + common proxy port";
      f.proxy_candidates.assessments.push_back(a);
      if (a.level == CandidateLevel::kCandidate) f.proxy_candidates.candidates.push_back(a);
    }
    f.tcp_sockets.push_back(s);
  }
  return f;
}

TopologyGraph busy_graph() {
  TopologyGraph g;
  for (int n = 0; n < 160; ++n) {
    GraphNode node;
    node.id = "node-" + std::to_string(n);
    node.label = "process 进程 " + std::to_string(n);
    node.sub = "proxy core · layer 3";
    node.kind = "core";
    node.processId = 1000 + n;
    for (int i = 0; i < 10; ++i) {
      NodeItem item;
      item.id = "listen-" + std::to_string(i);
      item.k = "listen";
      item.v = "127.0.0.1:" + std::to_string(7000 + i);
      item.meta = "SOCKS5 · score 12.5";
      if (i == 0) {
        auto detail = std::make_shared<ItemDetail>();
        detail->label = "detail";
        detail->items.push_back(item);
        item.detail = detail;
      }
      node.items.push_back(item);
    }
    g.nodes.push_back(node);
    if (n) {
      GraphEdge e;
      e.from = "node-" + std::to_string(n - 1);
      e.to = node.id;
      e.kind = "likely";
      e.confidence = 0.86;
      e.evidence = "passively observed established socket";
      g.edges.push_back(e);
    }
  }
  return g;
}

void BM_RenderReportBusyHost(benchmark::State& state) {
  Facts f = busy_host();
  TopologyGraph g = busy_graph();
  ProbeResults pings;
  pings.pings = {{"10.0.1.1", PingResult{true, 1}}};
  size_t bytes = 0;
  for (auto _ : state) {
    std::string doc = render_report(f, g, pings, "0.1.0");
    bytes = doc.size();
    benchmark::DoNotOptimize(doc);
  }
  state.counters["report_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderReportBusyHost)->Unit(benchmark::kMillisecond);

void BM_GraphPayload160(benchmark::State& state) {
  TopologyGraph g = busy_graph();
  for (auto _ : state) benchmark::DoNotOptimize(graph_payload_json(g));
}
BENCHMARK(BM_GraphPayload160)->Unit(benchmark::kMillisecond);

void BM_Sha256(benchmark::State& state) {
  std::string data(static_cast<size_t>(state.range(0)), 'a');
  for (auto _ : state) benchmark::DoNotOptimize(sha256_hex(data));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Sha256)->Arg(64)->Arg(1 << 20);

}  // namespace
}  // namespace corvale

BENCHMARK_MAIN();
