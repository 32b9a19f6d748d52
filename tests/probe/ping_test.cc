#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "probe/probe.h"
#include "support/peers.h"

namespace corvale {
namespace {

std::string read_text(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(ParsePingRtt, Table) {
  struct Row {
    std::string text;
    int64_t rtt;
  } rows[] = {
      {"Reply from 10.0.0.1: bytes=32 time<1 ms TTL=64", 1},
      {"64 bytes from 10.0.0.1: icmp_seq=1 ttl=64 time=0.4 ms", 0},
      {"64 bytes from 10.0.0.1: icmp_seq=1 ttl=64 time=12.5 ms", 13},
      {"time=0.5 ms", 1},
      {"time=2.49ms", 2},
      {"time= 7 ms", 7},
      {"time=1.2.3 ms", 0},  // not a number
      {"time=. ms", 0},
      {"1 packets transmitted, 1 received, time 0ms", 0},  // statistics line only
      {"", 0},
      {"\xff\xfe garbage \xc3 time=3 ms", 3},
      {std::string("time=") + std::string(400, '9') + " ms", std::numeric_limits<int64_t>::max()},
      {"time=99999999999999999999.5 ms", std::numeric_limits<int64_t>::max()},
      {std::string("time=0.") + std::string(400, '0') + "1 ms", 0},
  };
  for (const auto& r : rows) EXPECT_EQ(parse_ping_rtt(r.text), r.rtt) << r.text;
}

TEST(ParsePingRtt, RealCaptures) {
  const std::filesystem::path dir = CORVALE_TEST_DATA "/probe";
  // iputils prints three decimals; the statistics line "time 0ms" must not win.
  EXPECT_EQ(parse_ping_rtt(read_text(dir / "ping_v4_loopback.txt")), 0);
  EXPECT_EQ(parse_ping_rtt(read_text(dir / "ping_v6_loopback.txt")), 0);
  EXPECT_EQ(parse_ping_rtt(read_text(dir / "ping_v4_unreachable.txt")), 0);
}

// Fake ping programs first (and alone) on PATH: they log their arguments, so
// a test can see exactly what would have been run, without any packet.
class FakePing : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("corvale-ping-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    const char* old = std::getenv("PATH");
    old_path_ = old ? old : "";
    ::setenv("PATH", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", old_path_.c_str(), 1);
    std::filesystem::remove_all(dir_);
  }
  void install(const std::string& name, int status, const std::string& out) {
    auto path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\necho \"" << name << " $*\" >> '" << log().string()
                        << "'\necho '" << out << "'\nexit " << status << "\n";
    ::chmod(path.c_str(), 0755);
  }
  std::filesystem::path log() const { return dir_ / "calls.log"; }
  std::string calls() const { return read_text(log()); }

  std::filesystem::path dir_;
  std::string old_path_;
};

TEST_F(FakePing, ArgumentsPerFamily) {
  install("ping", 0, "64 bytes from x: icmp_seq=1 ttl=64 time=7.6 ms");
  PingResult v4 = ping_probe("10.0.0.1");
  PingResult v6 = ping_probe("fe80::1%2");
  EXPECT_TRUE(v4.ok);
  EXPECT_EQ(v4.rtt_ms, 8);
  EXPECT_TRUE(v6.ok);
  EXPECT_EQ(calls(), "ping -c 1 -W 2 10.0.0.1\nping -6 -c 1 -W 2 fe80::1%2\n");
}

TEST_F(FakePing, OptionLikeOrEmptyHostIsNeverRun) {
  install("ping", 0, "time=1 ms");
  for (const char* host : {"-c", "-f", "--help", "-6", ""}) {
    PingResult r = ping_probe(host);
    EXPECT_FALSE(r.ok) << host;
    EXPECT_EQ(r.rtt_ms, -1) << host;
  }
  EXPECT_EQ(calls(), "");
}

TEST_F(FakePing, FailureAndMissingTime) {
  install("ping", 1, "1 packets transmitted, 0 received");
  PingResult failed = ping_probe("10.0.0.2");
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.rtt_ms, -1);
  install("ping", 0, "no timing in this output");
  PingResult no_time = ping_probe("10.0.0.2");
  EXPECT_TRUE(no_time.ok);
  EXPECT_EQ(no_time.rtt_ms, 0);
}

TEST_F(FakePing, Ping6WhenPingIsMissing) {
  install("ping6", 0, "64 bytes from ::1: icmp_seq=1 ttl=64 time=0.6 ms");
  PingResult r = ping_probe("::1");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.rtt_ms, 1);
  EXPECT_EQ(calls(), "ping6 -c 1 -W 2 ::1\n");
  EXPECT_FALSE(ping_probe("10.0.0.1").ok);  // no IPv4 fallback exists
}

TEST(PingLoopback, AnswersAndFailsFast) {
  REQUIRE_ISOLATED_NETWORK();
  for (const char* host : {"127.0.0.1", "::1"}) {
    PingResult r = ping_probe(host);
    EXPECT_TRUE(r.ok) << host;
    EXPECT_GE(r.rtt_ms, 0) << host;
  }
  // Nothing routes 198.51.100.1 in an empty namespace: ping fails at once,
  // well inside the 2 s it would wait for a reply that never comes.
  auto start = std::chrono::steady_clock::now();
  PingResult r = ping_probe("198.51.100.1");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.rtt_ms, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

}  // namespace
}  // namespace corvale
