#include "facts/interception.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

ProxyCandidateAssessment listener(uint32_t pid, uint16_t port, std::string level,
                                  std::string protocol = "") {
  ProxyCandidateAssessment a;
  a.host = "127.0.0.1";
  a.pid = pid;
  a.port = port;
  a.level = std::move(level);
  a.protocol = std::move(protocol);
  return a;
}

Facts with_egress(const std::string& verdict) {
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
  EXPECT_EQ(r.level, "NONE");
  EXPECT_DOUBLE_EQ(r.confidence, 0.2);
  EXPECT_TRUE(r.signals.empty());
  EXPECT_TRUE(r.protocol_proxy_listeners.empty());
}

TEST(Interception, OneSocksOwnerIsPossible) {
  Facts f;
  f.proxy_candidates.assessments = {listener(500, 7890, "candidate", "SOCKS5"),
                                    listener(500, 7891, "candidate", "SOCKS5"),
                                    listener(600, 22, "inventory")};
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 4);
  EXPECT_EQ(r.level, "POSSIBLE");
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
      listener(40, 1, "candidate", "SOCKS5"), listener(30, 2, "candidate", "HTTP CONNECT"),
      listener(20, 3, "candidate", "SOCKS5"), listener(10, 4, "candidate", "HTTP CONNECT"),
      listener(10, 5, "candidate", "socks5")};  // not a detected protocol text
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 6);
  EXPECT_EQ(r.protocol_proxy_processes, (std::vector<uint32_t>{10, 20, 30, 40}));
  EXPECT_EQ(r.protocol_proxy_listeners.size(), 4u);

  f.proxy_candidates.assessments.resize(2);
  EXPECT_DOUBLE_EQ(assess_interception(f).score, 5);
}

TEST(Interception, ProxyLikeListenersWithoutProtocolWeighTwo) {
  Facts f;
  f.proxy_candidates.assessments = {listener(9, 1, "investigate"), listener(7, 2, "candidate"),
                                    listener(8, 3, "inventory")};
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 2);
  EXPECT_EQ(r.level, "NONE");
  EXPECT_EQ(r.proxy_like_processes, (std::vector<uint32_t>{7, 9}));
  EXPECT_EQ(r.signals,
            std::vector<std::string>{"proxy/tunnel-like local listener owner process(es)"});
}

TEST(Interception, SuspectedTunnelWithFakeDnsAndWireGuardIsLikely) {
  Facts f = with_egress("SuspectedTunnel");
  f.assessments_by_index[9].fake_ip_dns = {"198.18.0.2"};
  f.service_hits = {ServiceEntry{"wg-quick@wg0.service", "loaded", "Running", ""}};
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 10);
  EXPECT_EQ(r.level, "LIKELY");
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
  EXPECT_EQ(r.level, "LIKELY");
  EXPECT_EQ(r.signals.back(), "active TCP socket source interface disagrees with Find-NetRoute");
}

TEST(Interception, IdentifiedTunnelIsVisibleWhateverTheScore) {
  auto r = assess_interception(with_egress("Tunnel"));
  EXPECT_EQ(r.level, "VISIBLE-TUNNEL");
  EXPECT_DOUBLE_EQ(r.confidence, 1.0);
  EXPECT_DOUBLE_EQ(r.score, 0);
  EXPECT_EQ(r.signals,
            std::vector<std::string>{"selected default-route adapter is an identified tunnel"});
}

TEST(Interception, EgressAdapterWithoutAssessmentCountsAsNone) {
  Facts f = with_egress("SuspectedTunnel");
  f.egress_v4_adapter->if_index = 4;  // no assessment under this index
  f.assessments_by_index[9].fake_ip_addresses = {"198.18.0.1"};
  auto r = assess_interception(f);
  EXPECT_DOUBLE_EQ(r.score, 0);
  EXPECT_EQ(r.level, "NONE");
}

}  // namespace
}  // namespace corvale
