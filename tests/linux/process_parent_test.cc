#include "linux/process_parent.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace corvale {
namespace {

TEST(StatParent, CountsFieldsAfterTheLastParenthesis) {
  struct Case {
    std::string stat;
    std::optional<uint32_t> want;
  } cases[] = {
      // Captured from a lab laptop: a ping started by corvale (pid 3).
      {"21 (ping) S 3 1 1 0 -1 4194560 97 0 0 0 0 0 0 0 20 0 1 0 7316 5570560 288", 3},
      // A name planted to look like other fields.
      {"77 (x) S 999 1 (y) R 5) S 4242 77 77 0 -1", 4242},
      {"12 (with space) R 1 12 12", 1},
      {"", std::nullopt},
      {"12 (no close S 1 2", std::nullopt},
      {"12 (x) S", std::nullopt},
      {"12 (x) S -1 2", std::nullopt},
      {"12 (x) S 99999999999 2", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_stat_parent(c.stat), c.want) << c.stat;
}

TEST(StatParent, OfThisProcess) {
  EXPECT_EQ(parent_pid(static_cast<uint32_t>(::getpid())), static_cast<uint32_t>(::getppid()));
  EXPECT_EQ(parent_pid(0), std::nullopt);
}

}  // namespace
}  // namespace corvale
