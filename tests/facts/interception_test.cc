#include "facts/interception.h"

#include <gtest/gtest.h>

#include <functional>

namespace corvale {
namespace {

ProxyCandidateAssessment listener(uint32_t pid, uint16_t port, CandidateLevel level,
                                  ProxyProtocol protocol = ProxyProtocol::kNone) {
  ProxyCandidateAssessment a;
  a.host = "127.0.0.1";
  a.pid = pid;
  a.port = port;
  a.level = level;
  a.protocol = protocol;
  return a;
}

Facts with_egress(AdapterVerdict verdict) {
  Facts f;
  Adapter a;
  a.name = "tun0";
  a.if_index = 9;
  f.egress_v4_adapter = a;
  f.assessments_by_index[9].verdict = verdict;
  return f;
}

TEST(Interception, NothingFiresGivesNone) {
  auto r = assess_interception(Facts{});
  EXPECT_DOUBLE_EQ(r.score, 0);
  EXPECT_EQ(r.level, InterceptionLevel::kNone);
  EXPECT_DOUBLE_EQ(r.confidence, 0.2);
  EXPECT_TRUE(r.signals.empty());
  EXPECT_TRUE(r.protocol_proxy_listeners.empty());
}

TEST(Interception, OneSocksOwnerIsPossible) {
  Facts f;
  f.proxy_candidates.assessments = {
      listener(500, 7890, CandidateLevel::kCandidate, ProxyProtocol::kSocks5),
      listener(500, 7891, CandidateLevel::kCandidate, ProxyProtocol::kSocks5),
      listener(600, 22, CandidateLevel::kInventory)};
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 4);
  EXPECT_EQ(r.level, InterceptionLevel::kPossible);
  EXPECT_DOUBLE_EQ(r.confidence, 0.58);
  EXPECT_EQ(r.protocol_proxy_processes, std::vector<uint32_t>{500});
  EXPECT_EQ(r.protocol_proxy_listeners.size(), 2u);
  EXPECT_EQ(r.proxy_like_processes, std::vector<uint32_t>{500});
  EXPECT_EQ(r.signals,
            std::vector<std::string>{"proxy protocol detected on local listener owner process(es), "
                                     "endpoint multiplicity collapsed"});
}

TEST(Interception, ListenerWeightIsCappedAtSix) {
  Facts f;
  f.proxy_candidates.assessments = {
      listener(40, 1, CandidateLevel::kCandidate, ProxyProtocol::kSocks5),
      listener(30, 2, CandidateLevel::kCandidate, ProxyProtocol::kHttpConnect),
      listener(20, 3, CandidateLevel::kCandidate, ProxyProtocol::kSocks5),
      listener(10, 4, CandidateLevel::kCandidate, ProxyProtocol::kHttpConnect),
      listener(10, 5, CandidateLevel::kCandidate,
               ProxyProtocol::kNone)};  // answered no proxy protocol
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 6);
  EXPECT_EQ(r.protocol_proxy_processes, (std::vector<uint32_t>{10, 20, 30, 40}));
  EXPECT_EQ(r.protocol_proxy_listeners.size(), 4u);

  f.proxy_candidates.assessments.resize(2);
  EXPECT_DOUBLE_EQ(assess_interception(f).score, 5);
}

TEST(Interception, ProxyLikeListenersWithoutProtocolWeighTwo) {
  Facts f;
  f.proxy_candidates.assessments = {listener(9, 1, CandidateLevel::kInvestigate),
                                    listener(7, 2, CandidateLevel::kCandidate),
                                    listener(8, 3, CandidateLevel::kInventory)};
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 2);
  EXPECT_EQ(r.level, InterceptionLevel::kNone);
  EXPECT_EQ(r.proxy_like_processes, (std::vector<uint32_t>{7, 9}));
  EXPECT_EQ(r.signals,
            std::vector<std::string>{"proxy/tunnel-like local listener owner process(es)"});
}

TEST(Interception, SuspectedTunnelWithFakeDnsAndWireGuardIsLikely) {
  Facts f = with_egress(AdapterVerdict::kSuspectedTunnel);
  f.assessments_by_index[9].fake_ip_dns = {"198.18.0.2"};
  f.service_hits = {ServiceEntry{"wg-quick@wg0.service", "loaded", "Running", ""}};
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 10);
  EXPECT_EQ(r.level, InterceptionLevel::kLikely);
  EXPECT_DOUBLE_EQ(r.confidence, 0.86);
  std::vector<std::string> signals = {
      "selected default-route adapter is tunnel-like but not conclusively identified",
      "running VPN/TUN/redirect/filter driver or service identity",
      "selected adapter exposes fake-IP style address/DNS"};
  EXPECT_EQ(r.signals, signals);
}

TEST(Interception, RouteSourceMismatchWeighsFive) {
  Facts f;
  f.route_source.mismatch = true;
  f.driver_hits = {ServiceEntry{"tailscaled.service", std::nullopt, "Running", ""}};
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 8);
  EXPECT_EQ(r.level, InterceptionLevel::kLikely);
  EXPECT_EQ(r.signals.back(), "active TCP socket source interface disagrees with Find-NetRoute");
}

TEST(Interception, IdentifiedTunnelIsVisibleWhateverTheScore) {
  auto r = assess_interception(with_egress(AdapterVerdict::kTunnel));
  EXPECT_EQ(r.level, InterceptionLevel::kVisibleTunnel);
  EXPECT_DOUBLE_EQ(r.confidence, 1.0);
  EXPECT_DOUBLE_EQ(r.score, 0);
  EXPECT_EQ(r.signals,
            std::vector<std::string>{"selected default-route adapter is an identified tunnel"});
}

TEST(Interception, EgressAdapterWithoutAssessmentCountsAsNone) {
  Facts f = with_egress(AdapterVerdict::kSuspectedTunnel);
  f.egress_v4_adapter->if_index = 4;  // no assessment under this index
  f.assessments_by_index[9].fake_ip_addresses = {"198.18.0.1"};
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 0);
  EXPECT_EQ(r.level, InterceptionLevel::kNone);
}

// Whether the explicit setting explains the evidence, decided from the facts
// alone: a listener behind a setting on this host, and no tunnel carrying traffic.
TEST(DecideInterception, ExplicitPolicyExplainsTheEvidence) {
  struct Row {
    const char* name;
    std::function<void(Facts&)> change;
    ExplicitPolicy policy;
    InterceptionLevel effective;
  } rows[] = {
      {"listener behind the setting", [](Facts&) {}, ExplicitPolicy::kAttributed,
       InterceptionLevel::kExplicitProxy},
      {"no evidence to explain", [](Facts& f) { f.interception.level = InterceptionLevel::kNone; },
       ExplicitPolicy::kAttributed, InterceptionLevel::kNone},
      {"setting names another port", [](Facts& f) { f.proxy_settings.endpoints[0].port = 9999; },
       ExplicitPolicy::kNoLocalListener, InterceptionLevel::kPossible},
      {"setting names a remote proxy",
       [](Facts& f) { f.proxy_settings.endpoints[0].host = "proxy.example.edu"; },
       ExplicitPolicy::kNoLocalListener, InterceptionLevel::kPossible},
      {"wildcard bind takes the own address",
       [](Facts& f) {
         f.tcp_listeners[0].local_address = "0.0.0.0";
         f.proxy_settings.endpoints[0].host = "192.168.50.10";
       },
       ExplicitPolicy::kAttributed, InterceptionLevel::kExplicitProxy},
      // The listener rule the graph and the findings use: 0.0.0.0 takes IPv4 only.
      {"IPv4-only bind refuses a setting on [::1]",
       [](Facts& f) {
         f.tcp_listeners[0].local_address = "0.0.0.0";
         f.proxy_settings.endpoints[0].host = "::1";
       },
       ExplicitPolicy::kNoLocalListener, InterceptionLevel::kPossible},
      {"dual-stack bind takes a setting on [::1]",
       [](Facts& f) {
         f.tcp_listeners[0].local_address = "0.0.0.0";
         f.tcp_listeners[0].dual_stack = true;
         f.proxy_settings.endpoints[0].host = "::1";
       },
       ExplicitPolicy::kAttributed, InterceptionLevel::kExplicitProxy},
      {"an up tunnel carries traffic",
       [](Facts& f) {
         f.adapters[0].is_up = true;
         f.assessments_by_index[9].verdict = AdapterVerdict::kTunnel;
       },
       ExplicitPolicy::kTunnelCarries, InterceptionLevel::kPossible},
      {"a down tunnel carries nothing",
       [](Facts& f) { f.assessments_by_index[9].verdict = AdapterVerdict::kSuspectedTunnel; },
       ExplicitPolicy::kAttributed, InterceptionLevel::kExplicitProxy},
      {"a core reports connections",
       [](Facts& f) { f.core_infos.push_back({}), f.core_infos[0].connections.resize(1); },
       ExplicitPolicy::kTunnelCarries, InterceptionLevel::kPossible},
  };
  for (const auto& r : rows) {
    Facts f;
    f.local_addresses = {"192.168.50.10"};
    Adapter tun;
    tun.name = "tun0";
    tun.if_index = 9;
    f.adapters = {tun};
    f.tcp_listeners = {{"127.0.0.1", 8888, "", 0, kTcpListen, 7}};
    f.proxy_settings.endpoints = {{"HTTP_PROXY", "127.0.0.1", "http", 8888}};
    f.interception.level = InterceptionLevel::kPossible;
    r.change(f);
    decide_interception(f);
    EXPECT_EQ(f.interception.explicit_policy, r.policy) << r.name;
    EXPECT_EQ(level_text(f.interception.effective), level_text(r.effective)) << r.name;
  }
}

}  // namespace
}  // namespace corvale
