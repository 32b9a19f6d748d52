#include "facts/probe_results.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvale {
namespace {

TEST(ProbeOnMiss, KnownAnswersFirstAndEachMissIsProbedOnce) {
  ProbeResults known;
  known.pings["192.168.50.1"] = PingResult{true, 2};
  std::vector<std::string> probed;
  ProbeOnMiss<PingResult> pings(known.pings, [&](const std::string& host) {
    probed.push_back(host);
    return PingResult{true, 40};
  });
  struct Case {
    const char* host;
    int64_t rtt_ms;
    size_t misses;
  } asks[] = {
      {"192.168.50.1", 2, 0},  // held: never probed
      {"10.0.0.55", 40, 1},    // missing: probed live
      {"10.0.0.55", 40, 1},    // asked again: the live answer, not a second probe
      {"192.168.50.1", 2, 1},
  };
  for (const auto& a : asks) {
    EXPECT_EQ(pings.get(a.host).rtt_ms, a.rtt_ms) << a.host;
    EXPECT_EQ(pings.misses(), a.misses) << a.host;
  }
  EXPECT_EQ(probed, std::vector<std::string>{"10.0.0.55"});
  EXPECT_FALSE(known.pings.contains("10.0.0.55"));  // the run's record is only read
}

TEST(ProbeOnMiss, WithoutAProbeAMissIsAFailedResult) {
  ProbeResults known;
  ProbeOnMiss<DnsProbeResult> dns(known.dns, nullptr);
  DnsProbeResult r = dns.get("10.0.32.32");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.elapsed_ms, kNoReplyMs);
  EXPECT_EQ(dns.misses(), 1u);
}

}  // namespace
}  // namespace corvale
