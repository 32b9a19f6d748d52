// Cost of one probe of an answering local peer: SOCKS5 greeting, HTTP
// CONNECT, a DNS query to a loopback resolver, a plain HTTP GET.
//
// It starts its own peers on loopback (the resolver on 127.0.0.1:53) and
// refuses to run unless the network namespace holds nothing but lo: run it as
//   unshare --net sh -c 'ip link set lo up; ./probe_bench'
// (or inside the lab), never in the machine's own namespace.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "peers.h"
#include "probe/probe.h"

namespace corvale {
namespace {

using testing::PeerConn;
using testing::TcpPeer;

struct Peers {
  TcpPeer socks{[](PeerConn& c) {
    c.read_exactly(3);
    c.send(std::string("\x05\x00", 2));
  }};
  TcpPeer proxy{[](PeerConn& c) {
    c.read_until("\r\n\r\n");
    c.send("HTTP/1.0 200 Connection established\r\nProxy-Agent: bench\r\n\r\n");
  }};
  TcpPeer web{[](PeerConn& c) {
    c.read_until("\r\n\r\n");
    c.send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  }};
  testing::UdpPeer resolver{
      [](std::string_view q) -> std::optional<std::string> {
        std::string r(q);
        if (r.size() < 12) return std::nullopt;
        r[2] = '\x81', r[3] = '\x80', r[7] = '\x01';
        return r +
               std::string("\xC0\x0C\x00\x01\x00\x01\x00\x00\x00\x3c\x00\x04\xcb\x00\x71\x01", 16);
      },
      "127.0.0.1"};
};

Peers* peers = nullptr;

void BM_Socks5Probe(benchmark::State& state) {
  for (auto _ : state)
    if (!socks5_probe("0.0.0.0", peers->socks.port())) state.SkipWithError("no SOCKS5 answer");
}
BENCHMARK(BM_Socks5Probe)->Unit(benchmark::kMicrosecond);

void BM_ConnectProbe(benchmark::State& state) {
  for (auto _ : state)
    if (connect_probe("127.0.0.1", peers->proxy.port()).empty())
      state.SkipWithError("no CONNECT verdict");
}
BENCHMARK(BM_ConnectProbe)->Unit(benchmark::kMicrosecond);

void BM_DnsProbe(benchmark::State& state) {
  for (auto _ : state)
    if (!dns_probe("127.0.0.1", 1500).ok) state.SkipWithError("no DNS answer");
}
BENCHMARK(BM_DnsProbe)->Unit(benchmark::kMicrosecond);

void BM_HttpGet(benchmark::State& state) {
  for (auto _ : state)
    if (!http_get("127.0.0.1", peers->web.port(), "/", {}, 1000))
      state.SkipWithError("no HTTP answer");
}
BENCHMARK(BM_HttpGet)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace corvale

int main(int argc, char** argv) {
  if (!corvale::testing::isolated_network()) {
    std::fputs("probe_bench: run inside `unshare --net` with lo up (or the lab), not here\n",
               stderr);
    return 2;
  }
  auto peers = std::make_unique<corvale::Peers>();
  if (!peers->socks.ok() || !peers->proxy.ok() || !peers->web.ok() || !peers->resolver.ok()) {
    std::fputs("probe_bench: could not start loopback peers (is lo up?)\n", stderr);
    return 2;
  }
  corvale::peers = peers.get();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
