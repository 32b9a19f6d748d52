#include "probe/proxy_candidates.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>

#include "support/peers.h"

namespace corvale {
namespace {

// Probe stubs that answer from a table and count what they were asked.
struct Stubs {
  std::set<uint16_t> socks_ports;
  std::map<uint16_t, std::string> connect_verdicts;
  std::map<std::string, std::string> env;
  std::mutex mu;
  std::vector<uint16_t> socks_calls, connect_calls;

  ProbeFns fns() {
    ProbeFns f;
    f.socks5 = [this](const std::string&, uint16_t port) {
      std::lock_guard lock(mu);
      socks_calls.push_back(port);
      return socks_ports.count(port) > 0;
    };
    f.connect = [this](const std::string&, uint16_t port) {
      std::lock_guard lock(mu);
      connect_calls.push_back(port);
      auto it = connect_verdicts.find(port);
      return it == connect_verdicts.end() ? std::string() : it->second;
    };
    f.env = [this](const char* name) -> std::optional<std::string> {
      auto it = env.find(name);
      if (it == env.end()) return std::nullopt;
      return it->second;
    };
    return f;
  }
};

struct Host {
  Facts facts;
  ProcessDetails details;

  Host() { facts.local_addresses = {"192.168.1.5", "fe80::1234"}; }
  void listen(uint32_t pid, std::string name, std::string address, uint16_t port,
              std::string cmdline = "") {
    facts.tcp_listeners.push_back({address, port, "", 0, kTcpListen, pid});
    facts.tcp_sockets.push_back(facts.tcp_listeners.back());
    facts.processes_by_pid[pid] = {pid, name, "", ""};
    details[pid] = {pid, name, "/usr/bin/" + name, cmdline.empty() ? name : cmdline};
  }
  void established(uint32_t pid, std::string local, uint16_t lport, std::string remote,
                   uint16_t rport) {
    facts.tcp_sockets.push_back({local, lport, remote, rport, kTcpEstablished, pid});
  }
};

const ProxyCandidateAssessment& find(const ProxyCandidates& c, uint32_t pid, uint16_t port) {
  for (const auto& a : c.assessments)
    if (a.pid == pid && a.port == port) return a;
  static ProxyCandidateAssessment none;
  ADD_FAILURE() << "no assessment for " << pid << ":" << port;
  return none;
}

TEST(ProxyCandidates, ClashAnsweringSocks5IsACandidate) {
  Host h;
  h.listen(100, "clash", "127.0.0.1", 7890, "/opt/clash/clash -d /etc/clash");
  Stubs s;
  s.socks_ports = {7890};
  auto r = assess_proxy_candidates(h.facts, h.details, s.fns());
  const auto& a = find(r, 100, 7890);
  EXPECT_DOUBLE_EQ(a.score, 12.5);
  EXPECT_EQ(a.level, CandidateLevel::kCandidate);
  EXPECT_TRUE(a.is_candidate);
  EXPECT_EQ(a.signals,
            "SOCKS5 negotiation + known proxy/tunnel process identity + common proxy port (weak)");
  EXPECT_EQ(a.protocol, ProxyProtocol::kSocks5);
  EXPECT_TRUE(a.probed);
  EXPECT_TRUE(s.connect_calls.empty());  // SOCKS5 answered: no CONNECT probe
  ASSERT_EQ(r.candidates.size(), 1u);
  EXPECT_EQ(r.candidates[0].port, 7890);
}

TEST(ProxyCandidates, BrowserOnARandomPortIsNeverProbed) {
  Host h;
  h.listen(200, "firefox", "127.0.0.1", 41517, "/usr/lib/firefox/firefox -contentproc");
  Stubs s;
  auto r = assess_proxy_candidates(h.facts, h.details, s.fns());
  const auto& a = find(r, 200, 41517);
  EXPECT_DOUBLE_EQ(a.score, -2.5);
  EXPECT_EQ(a.level, CandidateLevel::kInventory);
  EXPECT_FALSE(a.eligible);
  EXPECT_FALSE(a.probed);
  EXPECT_TRUE(a.common_app);
  EXPECT_EQ(a.signals,
            "common interactive application negative prior + active probe skipped by common-app "
            "negative prior");
  EXPECT_TRUE(s.socks_calls.empty());
  EXPECT_TRUE(s.connect_calls.empty());
}

TEST(ProxyCandidates, SilentUnknownOnCommonPortScoresNegative) {
  Host h;
  h.listen(300, "java", "0.0.0.0", 8080);
  Stubs s;
  auto r = assess_proxy_candidates(h.facts, h.details, s.fns());
  const auto& a = find(r, 300, 8080);
  EXPECT_DOUBLE_EQ(a.score, -0.25);
  EXPECT_EQ(a.level, CandidateLevel::kInventory);
  EXPECT_EQ(a.signals, "common proxy port (weak) + active proxy protocol probe negative");
  EXPECT_EQ(s.socks_calls, std::vector<uint16_t>{8080});
  EXPECT_EQ(s.connect_calls, std::vector<uint16_t>{8080});
  EXPECT_EQ(a.protocol, ProxyProtocol::kNone);
}

TEST(ProxyCandidates, EnvironmentProxyAnswering407IsACandidate) {
  Host h;
  h.listen(400, "squidish", "127.0.0.1", 31280);
  Stubs s;
  s.env["HTTP_PROXY"] = "http://alice:pw@localhost:31280/";
  s.connect_verdicts[31280] = "HTTP CONNECT / 407";
  auto r = assess_proxy_candidates(h.facts, h.details, s.fns());
  const auto& a = find(r, 400, 31280);
  EXPECT_DOUBLE_EQ(a.score, 12);
  EXPECT_EQ(a.level, CandidateLevel::kCandidate);
  EXPECT_EQ(a.protocol, ProxyProtocol::kHttpConnect);
  EXPECT_EQ(a.connect_verdict, "HTTP CONNECT / 407");
  EXPECT_EQ(a.signals,
            "HTTP CONNECT / 407 + explicit proxy policy references listener (HTTP_PROXY)");
  EXPECT_EQ(a.signals.find("alice"), std::string::npos);
}

TEST(ProxyCandidates, ProbeBudgetsFollowPriority) {
  Host h;
  for (uint16_t i = 0; i < 100; ++i) h.listen(1000 + i, "worker", "127.0.0.1", 20000 + i);
  Stubs s;
  auto r = assess_proxy_candidates(h.facts, h.details, s.fns());
  ASSERT_EQ(r.assessments.size(), 100u);
  EXPECT_EQ(s.socks_calls.size(), kSocks5ProbeBudget);
  EXPECT_TRUE(s.connect_calls.empty());  // no reason to try CONNECT on any of them
  size_t probed = 0, budget = 0;
  for (const auto& a : r.assessments) {
    probed += a.probed;
    bool unreached = a.signals.ends_with("protocol probe budget not reached");
    budget += unreached;
    EXPECT_NE(a.probed, unreached) << a.port;
  }
  EXPECT_EQ(probed, 72u);
  EXPECT_EQ(budget, 28u);
  // Equal priority: lower pids first.
  EXPECT_TRUE(find(r, 1000, 20000).probed);
  EXPECT_FALSE(find(r, 1099, 20099).probed);
}

TEST(ProxyCandidates, ConnectBudgetAndOrderingByEvidence) {
  Host h;
  // 80 endpoints worth a CONNECT probe (common port 8080 on distinct hosts/pids).
  for (uint16_t i = 0; i < 80; ++i)
    h.listen(5000 + i, "svc", "127.0.0." + std::to_string(i + 1), 8080);
  // A known core with the highest pid still goes first.
  h.listen(9999, "xray", "127.0.0.1", 45000);
  // Live local clients and remote sockets raise the priority of an unknown listener.
  h.listen(9998, "daemon", "127.0.0.1", 46000);
  h.established(9998, "127.0.0.1", 46000, "127.0.0.1", 50001);
  h.established(9998, "127.0.0.1", 46000, "127.0.0.1", 50002);
  h.established(7777, "127.0.0.1", 50001, "127.0.0.1", 46000);  // the client's side
  h.established(9998, "192.168.1.5", 51000, "203.0.113.7", 443);
  Stubs s;
  auto r = assess_proxy_candidates(h.facts, h.details, s.fns());
  ASSERT_GE(s.socks_calls.size(), 2u);
  EXPECT_EQ(s.connect_calls.size(), kConnectProbeBudget);
  EXPECT_EQ(s.socks_calls.size(), kSocks5ProbeBudget);
  std::set<uint16_t> socks(s.socks_calls.begin(), s.socks_calls.end());
  EXPECT_TRUE(socks.count(45000));
  EXPECT_TRUE(socks.count(46000));

  const auto& daemon = find(r, 9998, 46000);
  EXPECT_EQ(daemon.live_local_clients, 2u);
  EXPECT_EQ(daemon.remote_established, 1u);
  EXPECT_DOUBLE_EQ(daemon.score, 3 - 0.75);
  EXPECT_EQ(daemon.level, CandidateLevel::kInvestigate);
  EXPECT_EQ(daemon.signals,
            "2 live local client connection(s) + 1 remote established socket(s), ranking only + "
            "active proxy protocol probe negative");
  const auto& xray = find(r, 9999, 45000);
  EXPECT_DOUBLE_EQ(xray.score, 4);  // known identity, no probe penalty
  EXPECT_EQ(xray.level, CandidateLevel::kCandidate);

  // Output order: pid, then port.
  for (size_t i = 1; i < r.assessments.size(); ++i)
    EXPECT_LE(std::tie(r.assessments[i - 1].pid, r.assessments[i - 1].port),
              std::tie(r.assessments[i].pid, r.assessments[i].port));
}

TEST(ProxyCandidates, SocksSuccessesLeaveConnectBudgetForLaterEndpoints) {
  Host h;
  for (uint16_t i = 0; i < 110; ++i) h.listen(100 + i, "gost", "127.0.0.1", 30000 + i);
  Stubs s;
  for (uint16_t i = 0; i < 110; ++i) s.socks_ports.insert(30000 + i);
  assess_proxy_candidates(h.facts, h.details, s.fns());
  EXPECT_EQ(s.socks_calls.size(), 72u);
  // The 38 endpoints beyond the SOCKS5 budget did not answer it; 36 of them get CONNECT.
  EXPECT_EQ(s.connect_calls.size(), 36u);
  for (uint16_t p : s.connect_calls) EXPECT_GE(p, 30072);
}

TEST(ProxyCandidates, WhichListenersAreExamined) {
  Host h;
  h.listen(1, "a", "127.0.0.53", 53);
  h.listen(2, "b", "192.168.1.5", 22);
  h.listen(3, "c", "::", 631);
  h.listen(4, "d", "10.9.9.9", 5000);  // not an address of this host
  h.listen(5, "e", "fe80::1234", 6000);
  h.facts.tcp_listeners.push_back(h.facts.tcp_listeners[0]);  // seen in two samples
  Stubs s;
  auto r = assess_proxy_candidates(h.facts, h.details, s.fns());
  std::vector<uint32_t> pids;
  for (const auto& a : r.assessments) pids.push_back(a.pid);
  EXPECT_EQ(pids, (std::vector<uint32_t>{1, 2, 3, 5}));
  EXPECT_EQ(listener_owner_pids(h.facts), (std::vector<uint32_t>{1, 2, 3, 5}));
}

TEST(ProxyCandidates, GenericIdentityAndCommonAppExceptions) {
  Host h;
  h.listen(1, "myvpnd", "127.0.0.1", 40001);
  h.listen(2, "chrome", "127.0.0.1", 1080);  // browser on a proxy port: still probed
  h.listen(3, "code", "127.0.0.1", 40003, "code --enable-proxy");  // generic and common-app at once
  Stubs s;
  auto r = assess_proxy_candidates(h.facts, h.details, s.fns());
  const auto& vpn = find(r, 1, 40001);
  EXPECT_DOUBLE_EQ(vpn.score, 1 - 0.75);
  EXPECT_EQ(
      vpn.signals,
      "generic proxy/vpn-like process identity (weak) + active proxy protocol probe negative");
  const auto& chrome = find(r, 2, 1080);
  EXPECT_TRUE(chrome.eligible);
  EXPECT_TRUE(chrome.probed);
  EXPECT_DOUBLE_EQ(chrome.score, 0.5 - 2.5 - 0.75);
  const auto& code = find(r, 3, 40003);
  EXPECT_TRUE(code.common_app);
  EXPECT_FALSE(code.eligible);
  EXPECT_DOUBLE_EQ(code.score, 1 - 2.5);
}

// The real probes against crafted peers on loopback (run in an isolated namespace).
TEST(ProxyCandidatesLive, RealProbesAgainstLoopbackPeers) {
  REQUIRE_ISOLATED_NETWORK();
  using testing::TcpPeer;
  TcpPeer socks([](testing::PeerConn& c) {
    std::string greeting = c.read_exactly(3);
    if (greeting.size() == 3 && greeting[0] == 5) c.send(std::string("\x05\x00", 2));
  });
  TcpPeer proxy(testing::fixed_reply("HTTP/1.1 407 Proxy Authentication Required\r\n\r\n"));
  TcpPeer web(testing::fixed_reply("HTTP/1.1 400 Bad Request\r\n\r\n"));
  Host h;
  h.listen(1, "clash", "127.0.0.1", socks.port());
  h.listen(2, "tinyproxy", "0.0.0.0", proxy.port());
  h.listen(3, "nginx", "127.0.0.1", web.port());
  ProbeFns fns;
  std::string proxy_url = "http://127.0.0.1:" + std::to_string(proxy.port());
  fns.env = [&](const char* n) -> std::optional<std::string> {
    if (std::string_view(n) == "HTTP_PROXY") return proxy_url;
    return std::nullopt;
  };
  auto r = assess_proxy_candidates(h.facts, h.details, fns);
  EXPECT_EQ(find(r, 1, socks.port()).protocol, ProxyProtocol::kSocks5);
  EXPECT_EQ(find(r, 2, proxy.port()).protocol, ProxyProtocol::kHttpConnect);
  EXPECT_EQ(find(r, 2, proxy.port()).level, CandidateLevel::kCandidate);
  EXPECT_EQ(find(r, 3, web.port()).protocol, ProxyProtocol::kNone);
}

}  // namespace
}  // namespace corvale
