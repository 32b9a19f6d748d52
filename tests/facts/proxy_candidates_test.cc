// The pure rules of the proxy-candidate assessment: policy endpoints and
// their match to listeners, the probe batches, the score table and the pids
// whose controllers are asked.
#include "facts/proxy_candidates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace corvale {
namespace {

ListenerCandidate listener(uint32_t pid, uint16_t port) {
  ListenerCandidate c;
  c.host = "127.0.0.1";
  c.port = port;
  c.pid = pid;
  return c;
}

// One row a rule of the score table, alone or with the rules it meets.
TEST(ScoreCandidate, RulesAddUpInTableOrder) {
  struct Row {
    const char* name;
    ListenerCandidate c;
    ProbeVerdicts v;
    double score;
    CandidateLevel level;
    const char* signals;
  };
  auto with = [](auto change) {
    ListenerCandidate c = listener(7, 7890);
    change(c);
    return c;
  };
  const Row rows[] = {
      {"socks5 core",
       with([](auto& c) {
         c.known_identity = true;
         c.common_port = true;
       }),
       {true, "", true},
       12.5,
       CandidateLevel::kCandidate,
       "SOCKS5 negotiation + known proxy/tunnel process identity + common proxy port (weak)"},
      {"connect with policy",
       with([](auto& c) {
         c.policy_sources = {"HTTP_PROXY", "https_proxy"};
         c.policy_reference = true;
       }),
       {false, "HTTP CONNECT / 407", true},
       12,
       CandidateLevel::kCandidate,
       "HTTP CONNECT / 407 + explicit proxy policy references listener (HTTP_PROXY, https_proxy)"},
      {"silent generic with clients",
       with([](auto& c) {
         c.generic_identity = true;
         c.live_local_clients = 2;
         c.remote_established = 3;
       }),
       {false, "", true},
       3.25,
       CandidateLevel::kInvestigate,
       "generic proxy/vpn-like process identity (weak) + 2 live local client connection(s) + 3 "
       "remote established socket(s), ranking only + active proxy protocol probe negative"},
      {"silent known core keeps its weight",
       with([](auto& c) { c.known_identity = true; }),
       {false, "", true},
       4,
       CandidateLevel::kCandidate,
       "known proxy/tunnel process identity"},
      {"browser never probed",
       with([](auto& c) { c.common_app = true; }),
       {false, "", false},
       -2.5,
       CandidateLevel::kInventory,
       "common interactive application negative prior + active probe skipped by common-app "
       "negative prior"},
      {"beyond the budget",
       listener(7, 40000),
       {false, "", false},
       0,
       CandidateLevel::kInventory,
       "protocol probe budget not reached"},
      {"verdict text stays literal",
       listener(7, 40000),
       {false, "{remote} {}", true},
       7,
       CandidateLevel::kCandidate,
       "{remote} {}"},
  };
  for (const Row& r : rows) {
    ProxyCandidateAssessment a = score_candidate(r.c, r.v);
    EXPECT_DOUBLE_EQ(a.score, r.score) << r.name;
    EXPECT_EQ(a.level, r.level) << r.name;
    EXPECT_EQ(a.signals, r.signals) << r.name;
    EXPECT_EQ(a.is_candidate, r.level == CandidateLevel::kCandidate) << r.name;
  }
}

TEST(ProbeBatches, EligibleFirstThenConnectForSilentOnesWorthIt) {
  std::vector<ListenerCandidate> ranked(4, listener(1, 40000));
  ranked[0].known_identity = true;
  ranked[1].common_app = true;  // nothing else: never probed
  ranked[3].generic_identity = true;
  EXPECT_EQ(socks5_batch(ranked), (std::vector<size_t>{0, 2, 3}));
  std::vector<ProbeVerdicts> verdicts(ranked.size());
  EXPECT_EQ(connect_batch(ranked, verdicts), (std::vector<size_t>{0, 3}));
  verdicts[0].socks5 = true;  // answered SOCKS5: no CONNECT
  EXPECT_EQ(connect_batch(ranked, verdicts), (std::vector<size_t>{3}));
}

TEST(PolicyEndpoints, SourcesMergedSystemProxyOnlyWhenEnabled) {
  ProxySettings settings;
  settings.proxy_server = "http=127.0.0.1:7890;https=127.0.0.1:7890";
  settings.winhttp_text = "    Proxy Server(s) :  127.0.0.1:7890\n";
  std::map<std::string, std::string> env = {{"HTTPS_PROXY", "http://127.0.0.1:7890"},
                                            {"ALL_PROXY", "socks5://[::1]:7891"}};
  EnvLookup lookup = [&](const char* n) -> std::optional<std::string> {
    auto it = env.find(n);
    return it == env.end() ? std::nullopt : std::optional(it->second);
  };
  auto off = policy_endpoints(settings, lookup);
  ASSERT_EQ(off.size(), 2u);
  EXPECT_EQ(off[0].sources, (std::vector<std::string>{"WinHTTP", "HTTPS_PROXY"}));
  EXPECT_EQ(off[1].host, "::1");
  EXPECT_EQ(off[1].port, 7891);

  settings.proxy_enabled = true;
  auto on = policy_endpoints(settings, lookup);
  ASSERT_EQ(on.size(), 2u);
  EXPECT_EQ(on[0].sources, (std::vector<std::string>{"WinINET", "WinHTTP", "HTTPS_PROXY"}));

  EXPECT_TRUE(policy_endpoints(ProxySettings{}, nullptr).empty());
}

// What curl, wget and apt read: the lower-case spellings score as policy too.
TEST(PolicyEndpoints, LowerCaseVariablesCount) {
  std::map<std::string, std::string> env = {{"http_proxy", "http://127.0.0.1:3128"},
                                            {"https_proxy", "http://127.0.0.1:3129"},
                                            {"HTTPS_PROXY", "http://127.0.0.1:8888"},
                                            {"all_proxy", "socks5h://127.0.0.1:1080"},
                                            {"no_proxy", "localhost,127.0.0.1:9"}};
  EnvLookup lookup = [&](const char* n) -> std::optional<std::string> {
    auto it = env.find(n);
    return it == env.end() ? std::nullopt : std::optional(it->second);
  };
  auto eps = policy_endpoints(ProxySettings{}, lookup);
  std::vector<std::pair<uint16_t, std::vector<std::string>>> got;
  for (const auto& e : eps) got.emplace_back(e.port, e.sources);
  using Row = std::pair<uint16_t, std::vector<std::string>>;
  EXPECT_EQ(got, (std::vector<Row>{{3128, {"http_proxy"}},
                                   {8888, {"HTTPS_PROXY"}},
                                   {3129, {"https_proxy"}},
                                   {1080, {"all_proxy"}}}));
}

// A proxy GUI runs its core as a child: the core's ports are a known
// identity's, the GUI's own single-instance port only a generic one.
TEST(RankListeners, GuiFrontEndIsNoKnownProxyIdentity) {
  Facts f;
  f.processes_by_pid[3] = {3, "clash-verge", "/usr/bin/clash-verge", "clash-verge"};
  f.processes_by_pid[4] = {4, "verge-mihomo", "/usr/bin/verge-mihomo",
                           "verge-mihomo -d /app -f /app/clash-verge.yaml"};
  f.tcp_listeners = {{"127.0.0.1", 33331, "", 0, kTcpListen, 3},
                     {"127.0.0.1", 7897, "", 0, kTcpListen, 4}};
  std::vector<std::tuple<uint16_t, bool, bool>> flags;
  for (const auto& c : rank_listeners(f, {}, {}))
    flags.emplace_back(c.port, c.known_identity, c.generic_identity);
  std::sort(flags.begin(), flags.end());
  EXPECT_EQ(flags, (std::vector<std::tuple<uint16_t, bool, bool>>{{7897, true, false},
                                                                  {33331, false, true}}));
}

TEST(ProxyCorePids, FiltersByCoreIdentity) {
  struct {
    Facts facts;
    ProcessDetails details;
  } h;
  h.facts.proxy_processes = {{10, "mihomo", "", ""}, {11, "wireguard", "", ""}};
  h.facts.processes_by_pid[10] = {10, "mihomo", "", ""};
  h.details[11] = {11, "wg-quick", "/usr/bin/wg-quick", "wg-quick up wireguard0"};
  h.details[12] = {12, "firefox", "/usr/lib/firefox/firefox", "firefox --proxy-server=x"};
  h.details[13] = {13, "code", "/usr/bin/code", "code /home/u/clash-config"};
  h.details[14] = {14, "tinyproxy", "/usr/bin/tinyproxy", "tinyproxy -d"};
  h.details[15] = {15, "nginx", "/usr/sbin/nginx", "nginx"};
  for (uint32_t pid : {12u, 13u, 14u, 15u, 13u}) {
    ProxyCandidateAssessment a;
    a.pid = pid;
    a.level = pid == 15 ? CandidateLevel::kInventory : CandidateLevel::kInvestigate;
    h.facts.proxy_candidates.assessments.push_back(a);
  }
  ProxyCandidateAssessment unknown_owner;
  unknown_owner.level = CandidateLevel::kCandidate;
  h.facts.proxy_candidates.assessments.push_back(unknown_owner);  // pid 0
  EXPECT_EQ(proxy_core_pids(h.facts, h.details), (std::vector<uint32_t>{10, 11, 13, 14}));
}

}  // namespace
}  // namespace corvale
