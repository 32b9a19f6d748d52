#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <utility>

#include "probe/probe.h"
#include "support/peers.h"

namespace corvale {
namespace {

using testing::PeerConn;
using testing::TcpPeer;
using Ms = std::chrono::milliseconds;

const std::string kConnectRequest =
    "CONNECT 127.0.0.1:9 HTTP/1.1\r\nHost: 127.0.0.1:9\r\nProxy-Connection: close\r\n\r\n";

Ms wall_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - t);
}

TEST(ProbeTargetHost, WildcardsAndOthersGoToLoopback) {
  EXPECT_EQ(probe_target_host("0.0.0.0"), "127.0.0.1");
  EXPECT_EQ(probe_target_host("::"), "::1");
  EXPECT_EQ(probe_target_host("192.168.1.5"), "127.0.0.1");
  EXPECT_EQ(probe_target_host("fe80::1%2"), "::1");
  EXPECT_EQ(probe_target_host("127.0.0.53"), "127.0.0.53");
  EXPECT_EQ(probe_target_host("::1"), "::1");
  EXPECT_EQ(probe_target_host("localhost"), "localhost");
}

TEST(ConnectVerdict, Table) {
  struct Row {
    std::string reply;
    std::string verdict;
  } rows[] = {
      {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Agent: x\r\n\r\n",
       "HTTP CONNECT / 407"},
      {"HTTP/1.1 502 Bad Gateway\r\nProxy-Agent: x\r\n\r\n", "HTTP CONNECT / Proxy-Agent"},
      {"  PROXY-AGENT: y\r\nHTTP/1.1 407 x\r\n", "HTTP CONNECT / Proxy-Agent"},  // first hit wins
      {"HTTP/1.0 200 Connection established\r\n\r\n", "HTTP CONNECT / established"},
      {"HTTP/1.1 200 OK\r\nX-Note: reconnect later\r\n\r\n", "HTTP CONNECT / established"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
      {"HTTP/1.1 400 Bad Request\r\nServer: nginx\r\n\r\n", ""},
      {"HTTP/1.1 500 Unable to connect\r\nServer: tinyproxy/1.11.1\r\n\r\n", ""},
      {"HTTP/1.1 4070 x\r\n", ""},
      {std::string("\x05\xff", 2), ""},
      {"SSH-2.0-OpenSSH_9.2\r\n", ""},
      {"\xff\xfe\x00 HTTP/1.1 200 connect", ""},  // the status line must start the line
      {"", ""},
  };
  for (const auto& r : rows) EXPECT_EQ(connect_verdict(r.reply), r.verdict) << r.reply;
}

TEST(Socks5Probe, CraftedPeers) {
  REQUIRE_ISOLATED_NETWORK();
  struct Row {
    std::string reply;
    bool socks;
  } rows[] = {
      {std::string("\x05\x00", 2), true},
      {std::string("\x05\xff", 2), true},  // no acceptable method: still a SOCKS5 server
      {std::string("\x04\x5a", 2), false},
      {std::string("\x05", 1), false},  // closes before the second byte
      {"HTTP/1.1 400 Bad Request\r\n\r\n", false},
  };
  for (const auto& r : rows) {
    std::atomic<bool> greeting_ok{false};
    TcpPeer peer(
        [&](PeerConn& c) {
          greeting_ok = c.read_exactly(3) == std::string("\x05\x01\x00", 3);
          c.send(r.reply);
        },
        "127.0.0.1");
    EXPECT_EQ(socks5_probe("127.0.0.1", peer.port()), r.socks) << ::testing::PrintToString(r.reply);
    EXPECT_TRUE(greeting_ok);
  }
}

TEST(Socks5Probe, WildcardHostsAreProbedOnLoopback) {
  REQUIRE_ISOLATED_NETWORK();
  for (auto [listen, probed_as] :
       {std::pair{"127.0.0.1", "0.0.0.0"}, {"::1", "::"}, {"127.0.0.1", "192.168.1.5"}}) {
    TcpPeer peer(
        [](PeerConn& c) {
          c.read_exactly(3);
          c.send(std::string("\x05\x00", 2));
        },
        listen);
    ASSERT_TRUE(peer.ok());
    EXPECT_TRUE(socks5_probe(probed_as, peer.port())) << probed_as;
    EXPECT_EQ(peer.accepted(), 1) << probed_as;
  }
}

TEST(Socks5Probe, SilentAndRefusedFailFast) {
  REQUIRE_ISOLATED_NETWORK();
  TcpPeer silent([](PeerConn& c) { c.wait_client_close(3000); });
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(socks5_probe("127.0.0.1", silent.port()));
  Ms took = wall_since(start);
  EXPECT_GE(took, Ms(130));
  EXPECT_LT(took, Ms(500));
  EXPECT_FALSE(socks5_probe("127.0.0.1", testing::closed_port()));
}

TEST(ConnectProbe, CraftedPeers) {
  REQUIRE_ISOLATED_NETWORK();
  struct Row {
    std::string reply;
    std::string verdict;
  } rows[] = {
      {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Agent: p\r\n\r\n",
       "HTTP CONNECT / 407"},
      {"HTTP/1.0 200 Connection established\r\n\r\n", "HTTP CONNECT / established"},
      {"HTTP/1.1 200 OK\r\nVia: connect-gw\r\n\r\n", "HTTP CONNECT / established"},
      {"HTTP/1.1 400 Bad Request\r\nServer: nginx\r\nContent-Length: 0\r\n\r\n", ""},
  };
  for (const auto& r : rows) {
    std::string request;
    {
      TcpPeer peer([&](PeerConn& c) {
        request = c.read_until("\r\n\r\n");
        c.send(r.reply);
      });
      EXPECT_EQ(connect_probe("0.0.0.0", peer.port()), r.verdict) << r.reply;
    }  // joined: `request` is final
    EXPECT_EQ(request, kConnectRequest);
  }
}

TEST(ConnectProbe, SilentPeerWithinTheTimeout) {
  REQUIRE_ISOLATED_NETWORK();
  TcpPeer silent([](PeerConn& c) { c.wait_client_close(3000); }, "::1");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(connect_probe("::", silent.port()), "");
  Ms took = wall_since(start);
  EXPECT_GE(took, Ms(170));
  EXPECT_LT(took, Ms(600));
  EXPECT_EQ(connect_probe("127.0.0.1", testing::closed_port()), "");
}

TEST(RealPeers, Microsocks) {
  REQUIRE_ISOLATED_NETWORK();
  const std::string bin = testing::program_path("microsocks");
  if (bin.empty()) GTEST_SKIP() << "microsocks is not installed";
  const uint16_t port = testing::closed_port();
  testing::ChildProcess proxy({bin, "-i", "127.0.0.1", "-p", std::to_string(port)});
  ASSERT_TRUE(testing::wait_for_listener("127.0.0.1", port));
  EXPECT_TRUE(socks5_probe("0.0.0.0", port));
  EXPECT_EQ(connect_probe("0.0.0.0", port), "");
}

TEST(RealPeers, Tinyproxy) {
  REQUIRE_ISOLATED_NETWORK();
  const std::string bin = testing::program_path("tinyproxy");
  if (bin.empty()) GTEST_SKIP() << "tinyproxy is not installed";
  // Something must take the CONNECT on the discard port, else tinyproxy
  // answers 500 without any proxy marker.
  TcpPeer discard([](PeerConn& c) { c.wait_client_close(3000); }, "127.0.0.1", 9);
  ASSERT_TRUE(discard.ok());
  const uint16_t port = testing::closed_port();
  auto conf = std::filesystem::temp_directory_path() /
              ("corvale-tinyproxy-" + std::to_string(port) + ".conf");
  std::ofstream(conf) << "Port " << port << "\nListen 127.0.0.1\nTimeout 5\nMaxClients 10\n";
  {
    testing::ChildProcess proxy({bin, "-d", "-c", conf.string()});
    ASSERT_TRUE(testing::wait_for_listener("127.0.0.1", port));
    EXPECT_EQ(connect_probe("127.0.0.1", port), "HTTP CONNECT / Proxy-Agent");
    EXPECT_FALSE(socks5_probe("127.0.0.1", port));
  }
  std::filesystem::remove(conf);
}

}  // namespace
}  // namespace corvale
