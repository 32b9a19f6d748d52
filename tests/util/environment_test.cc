#include "util/environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace corvale {
namespace {

TEST(Environment, GetAndIsSet) {
  const Environment env({{"EMPTY", ""}, {"PLAIN", "on"}, {"BROKEN", "\xff\xfe"}});
  struct Case {
    const char* name;
    std::optional<std::string> get;
    bool is_set;
  } cases[] = {
      {"PLAIN", "on", true},
      {"EMPTY", "", true},             // set to nothing still counts as set
      {"BROKEN", std::nullopt, true},  // not UTF-8: no value, but set
      {"MISSING", std::nullopt, false},
      {"plain", std::nullopt, false},  // names are case-sensitive
  };
  for (const auto& c : cases) {
    EXPECT_EQ(env.get(c.name), c.get) << c.name;
    EXPECT_EQ(env.is_set(c.name), c.is_set) << c.name;
    EXPECT_EQ(env.lookup()(c.name), c.get) << c.name;
  }
}

TEST(Environment, SnapshotDoesNotFollowLaterChanges) {
  ::setenv("CORVALE_ENV_TEST", "before", 1);
  ::setenv("CORVALE_ENV_TEST_GONE", "x", 1);
  const Environment env = Environment::from_process();
  ::setenv("CORVALE_ENV_TEST", "after", 1);
  ::unsetenv("CORVALE_ENV_TEST_GONE");
  EXPECT_EQ(env.get("CORVALE_ENV_TEST"), "before");
  EXPECT_TRUE(env.is_set("CORVALE_ENV_TEST_GONE"));
  ::unsetenv("CORVALE_ENV_TEST");
  EXPECT_EQ(Environment::from_process().get("CORVALE_ENV_TEST"), std::nullopt);
}

}  // namespace
}  // namespace corvale
