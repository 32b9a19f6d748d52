#include "parallel/pmap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

namespace corvale {
namespace {

TEST(WorkerCount, FromProcessorCounts) {
  struct Case {
    std::optional<unsigned> affinity, online;
    std::optional<double> quota;
    unsigned want;
  } cases[] = {
      {1, 1, {}, 4},    {2, 2, {}, 4},    {3, 3, {}, 6},   {12, 12, {}, 24},
      {64, 64, {}, 24}, {{}, 5, {}, 10},  {{}, {}, {}, 8}, {16, 16, 1.0, 4},
      {16, 16, 2.5, 6}, {16, 16, 0.2, 4}, {2, 16, {}, 4},  {{}, {}, 3.0, 6},
  };
  for (const auto& c : cases)
    EXPECT_EQ(worker_count_from(c.affinity, c.online, c.quota), c.want)
        << c.affinity.value_or(0) << "/" << c.online.value_or(0) << "/" << c.quota.value_or(0);
}

TEST(WorkerCount, CpuMax) {
  EXPECT_FALSE(parse_cpu_max("max 100000\n"));
  EXPECT_DOUBLE_EQ(*parse_cpu_max("150000 100000\n"), 1.5);
  EXPECT_FALSE(parse_cpu_max("garbage"));
  EXPECT_FALSE(parse_cpu_max("100 0"));
  EXPECT_FALSE(parse_cpu_max(""));
}

TEST(Pmap, EmptyInputDoesNothing) {
  progress_init(false);
  size_t total = progress_state()->total.load();
  auto r = pmap(std::vector<int>{}, "x", [](int v) { return v; });
  EXPECT_TRUE(r.empty());
  EXPECT_EQ(progress_state()->total.load(), total);
}

TEST(Pmap, ResultsInInputOrderOneTickPerItem) {
  progress_init(false);
  ProgressState* s = progress_state();
  size_t total = s->total.load(), done = s->done.load();
  std::vector<int> items(50);
  for (int i = 0; i < 50; ++i) items[i] = i;
  std::mutex mu;
  std::set<std::thread::id> threads;
  auto r = pmap(
      items, "order",
      [&](int v) {
        // Later items finish first.
        std::this_thread::sleep_for(std::chrono::milliseconds((50 - v) % 7));
        std::lock_guard l(mu);
        threads.insert(std::this_thread::get_id());
        return v * 10;
      },
      4);
  ASSERT_EQ(r.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(r[i], i * 10);
  EXPECT_EQ(s->total.load(), total + 50);
  EXPECT_EQ(s->done.load(), done + 50);
  EXPECT_LE(threads.size(), 4u);
}

TEST(Pmap, OneItemOneThread) {
  progress_init(false);
  std::thread::id caller = std::this_thread::get_id(), worker;
  auto r = pmap(std::vector<std::string>{"a"}, "one", [&](const std::string& s) {
    worker = std::this_thread::get_id();
    return s + "!";
  });
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0], "a!");
  EXPECT_NE(worker, caller);
}

TEST(Pmap, MoveOnlyResults) {
  progress_init(false);
  auto r = pmap(std::vector<int>{1, 2, 3}, "m", [](int v) { return std::make_unique<int>(v); });
  EXPECT_EQ(*r[2], 3);
}

}  // namespace
}  // namespace corvale
