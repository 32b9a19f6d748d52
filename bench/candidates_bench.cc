// The proxy-candidate assessment's own work on a busy host: 300 listeners,
// 2000 established sockets, two proxy variables; probes answer at once. The
// argument is the number of listeners per process (1: 300 distinct owners).
#include <benchmark/benchmark.h>

#include <string>

#include "probe/proxy_candidates.h"

namespace corvale {
namespace {

struct BusyHost {
  Facts facts;
  ProcessDetails details;

  explicit BusyHost(uint32_t per_pid) {
    facts.local_addresses = {"192.168.1.5", "fe80::1234", "2001:db8::5"};
    const char* names[] = {"mihomo", "firefox", "java",   "nginx",
                           "code",   "sshd",    "myvpnd", "python3"};
    for (uint32_t i = 0; i < 300; ++i) {
      uint32_t pid = 1000 + i / per_pid;
      std::string name = names[pid % 8];
      std::string host = i % 4 == 0   ? "0.0.0.0"
                         : i % 4 == 1 ? "::"
                         : i % 4 == 2 ? "127.0.0.1"
                                      : "192.168.1.5";
      uint16_t port = i < 13 ? uint16_t(7890 + i) : uint16_t(20000 + i);
      facts.tcp_listeners.push_back({host, port, "", 0, kTcpListen, pid});
      facts.tcp_sockets.push_back(facts.tcp_listeners.back());
      facts.processes_by_pid[pid] = {pid, name, "", ""};
      details[pid] = {pid, name, "/usr/bin/" + name, "/usr/bin/" + name + " --flag value --other"};
    }
    for (uint32_t i = 0; i < 2000; ++i) {
      uint32_t pid = 1000 + i % 100;
      bool local = i % 3 == 0;
      facts.tcp_sockets.push_back({local ? "127.0.0.1" : "192.168.1.5", uint16_t(20000 + i % 300),
                                   local ? "127.0.0.1" : "203.0.113." + std::to_string(i % 250),
                                   uint16_t(40000 + i), kTcpEstablished, pid});
    }
  }
};

void BM_AssessProxyCandidates(benchmark::State& state) {
  BusyHost host(static_cast<uint32_t>(state.range(0)));
  ProbeFns fns;
  fns.socks5 = [](const std::string&, uint16_t port) { return port == 7890; };
  fns.connect = [](const std::string&, uint16_t) { return std::string(); };
  fns.env = [](const char* name) -> std::optional<std::string> {
    if (std::string_view(name) == "HTTP_PROXY") return "http://127.0.0.1:7890";
    if (std::string_view(name) == "ALL_PROXY") return "socks5://localhost:7891";
    return std::nullopt;
  };
  for (auto _ : state) {
    auto r = assess_proxy_candidates(host.facts, host.details, fns);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_AssessProxyCandidates)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvale

BENCHMARK_MAIN();
