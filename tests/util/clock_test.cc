#include "util/clock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "util/command.h"
#include "util/text.h"

namespace corvale {
namespace {

// The text must be what `date` itself prints for the same instant and zone,
// so the stamps stay as they were when `date` made them.
TEST(LocalTime, MatchesTheDateCommand) {
  const char* old_tz = ::getenv("TZ");
  std::string saved = old_tz ? old_tz : "";
  struct Case {
    const char* tz;
    long long secs;
  } cases[] = {
      {"UTC", 0},
      {"UTC", 1700000000},
      {"CST-8", 1700000000},                   // east of Greenwich: the date changes
      {"EST5EDT,M3.2.0,M11.1.0", 1688169600},  // summer time in effect
      {"UTC", 1709164800 + 59},                // 29 February of a leap year
  };
  for (const char* format : {"+%Y-%m-%d %H:%M:%S", "+%Y%m%d-%H%M%S"}) {
    for (const auto& c : cases) {
      ::setenv("TZ", c.tz, 1);
      ::tzset();
      auto t = std::chrono::system_clock::time_point(std::chrono::seconds(c.secs));
      std::string want =
          trim(run_command_text("date", {"-d", "@" + std::to_string(c.secs), format}));
      ASSERT_FALSE(want.empty()) << "date is missing";
      EXPECT_EQ(local_time_text(t, format + 1), want) << c.tz << " " << c.secs << " " << format;
    }
  }
  if (old_tz)
    ::setenv("TZ", saved.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(LocalTime, NowHasTheStampShape) {
  std::string s = local_time_now("%Y%m%d-%H%M%S");
  ASSERT_EQ(s.size(), 15u);
  EXPECT_EQ(s[8], '-');
}

}  // namespace
}  // namespace corvale
