#include "main/summary.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

TEST(SpeedFormat, Units) {
  struct Case {
    uint64_t bps;
    const char* want;
  } cases[] = {
      {0, "0 bps"},           {999, "999 bps"},        {1000, "1 Kbps"},
      {1000000, "1 Mbps"},    {100000000, "100 Mbps"}, {1000000000, "1 Gbps"},
      {2500000000, "2.5 Gbps"}, {10000000000000ull, "10 Tbps"}, {1500, "1.5 Kbps"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_speed(c.bps), c.want) << c.bps;
}

}  // namespace
}  // namespace corvale
