#include "parallel/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace corvale {
namespace {

using namespace std::chrono_literals;

// Blocks each caller until `n` callers are inside at the same time, or the
// deadline passes; tells whether they all met.
class Rendezvous {
 public:
  explicit Rendezvous(int n) : waiting_(n) {}
  bool arrive() {
    std::unique_lock l(mu_);
    if (--waiting_ <= 0) cv_.notify_all();
    return cv_.wait_for(l, 5s, [&] { return waiting_ <= 0; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int waiting_;
};

TEST(StartMap, ResultsInInputOrderWithTicksAndTotal) {
  progress_init(false);
  ProgressState* s = progress_state();
  size_t total = s->total.load(), done = s->done.load();
  WorkerPool pool(4);
  std::vector<int> items(30);
  for (int i = 0; i < 30; ++i) items[i] = i;
  auto pending = start_map(pool, items, "order", [](int v) {
    std::this_thread::sleep_for(std::chrono::milliseconds((30 - v) % 5));
    return v * 3;
  });
  // The total grows when the map starts, before any result is asked for.
  EXPECT_EQ(s->total.load(), total + 30);
  auto r = pending.get();
  ASSERT_EQ(r.size(), 30u);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(r[i], i * 3);
  EXPECT_EQ(s->done.load(), done + 30);
  EXPECT_LE(pool.threads_started(), 4u);
}

TEST(StartMap, EmptyInputStartsNothing) {
  progress_init(false);
  size_t total = progress_state()->total.load();
  WorkerPool pool(4);
  auto r = start_map(pool, std::vector<int>{}, "x", [](int v) { return v; }).get();
  EXPECT_TRUE(r.empty());
  EXPECT_EQ(progress_state()->total.load(), total);
  EXPECT_EQ(pool.threads_started(), 0u);
}

TEST(WorkerPool, MapsStartedTogetherRunAtOnceUpToTheBound) {
  // Two maps and a task, all blocking until the last of the five arrives:
  // they only finish when the pool really runs them side by side.
  WorkerPool pool(5);
  Rendezvous meet(5);
  auto a = start_map(pool, std::vector<int>{1, 2}, "a", [&](int) { return meet.arrive(); });
  auto b = start_map(pool, std::vector<int>{3, 4}, "b", [&](int) { return meet.arrive(); });
  auto c = start_task(pool, [&] { return meet.arrive(); });
  for (bool met : a.get()) EXPECT_TRUE(met);
  for (bool met : b.get()) EXPECT_TRUE(met);
  EXPECT_TRUE(c.get());
  EXPECT_EQ(pool.threads_started(), 5u);
}

TEST(WorkerPool, NeverMoreThreadsThanItsBound) {
  WorkerPool pool(3);
  std::atomic<int> inside{0}, most{0};
  auto r = start_map(pool, std::vector<int>(40, 0), "bound", [&](int) {
    int now = ++inside;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(1ms);
    --inside;
    return 0;
  });
  EXPECT_EQ(r.get().size(), 40u);
  EXPECT_LE(most.load(), 3);
  EXPECT_EQ(pool.threads_started(), 3u);
}

TEST(WorkerPool, DestructorRunsQueuedTasksBeforeJoining) {
  std::atomic<int> ran{0};
  {
    WorkerPool pool(1);
    for (int i = 0; i < 10; ++i)
      pool.submit([&] {
        std::this_thread::sleep_for(1ms);
        ++ran;
      });
  }
  EXPECT_EQ(ran.load(), 10);
}

}  // namespace
}  // namespace corvale
