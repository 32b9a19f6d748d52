// Blocking work started ahead of the step that needs its result: a bounded
// pool of threads, and parallel maps whose results are collected later.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

#include "parallel/progress.h"

namespace corvale {

/// At most `max_threads` threads, started only when a task finds none idle;
/// further tasks wait in order. The destructor runs every queued task and
/// joins, so nothing outlives the pool.
class WorkerPool {
 public:
  explicit WorkerPool(size_t max_threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void submit(std::function<void()> task);
  /// Threads started so far (never more than max_threads).
  size_t threads_started() const;

 private:
  void work();

  const size_t max_threads_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool stopping_ = false;
};

/// A result that a pool task delivers; get() blocks until it is there.
template <typename R>
class Pending {
 public:
  Pending() = default;
  explicit Pending(std::future<R> f) : future_(std::move(f)) {}
  bool valid() const { return future_.valid(); }
  R get() { return future_.get(); }

 private:
  std::future<R> future_;
};

/// Runs `f()` on the pool.
template <typename F>
auto start_task(WorkerPool& pool, F f) -> Pending<std::invoke_result_t<F&>> {
  using R = std::invoke_result_t<F&>;
  auto task = std::make_shared<std::packaged_task<R()>>(std::move(f));
  Pending<R> out(task->get_future());
  pool.submit([task] { (*task)(); });
  return out;
}

/// The results of start_map, in input order, once all are in.
template <typename R>
class PendingMap {
 public:
  PendingMap() = default;
  explicit PendingMap(std::vector<Pending<R>> items) : items_(std::move(items)) {}
  std::vector<R> get() {
    std::vector<R> out;
    out.reserve(items_.size());
    for (auto& p : items_) out.push_back(p.get());
    items_.clear();
    return out;
  }

 private:
  std::vector<Pending<R>> items_;
};

/// The parallel map started on `pool` instead of scoped threads: the
/// progress total grows by the item count now, every finished item ticks
/// with `label`, and get() waits for all. `f` must not throw.
template <typename T, typename F>
auto start_map(WorkerPool& pool, std::vector<T> items, std::string_view label, F f)
    -> PendingMap<std::invoke_result_t<F&, const T&>> {
  using R = std::invoke_result_t<F&, const T&>;
  std::vector<Pending<R>> pending;
  if (items.empty()) return PendingMap<R>(std::move(pending));
  progress_add(items.size());
  auto shared = std::make_shared<std::pair<std::vector<T>, F>>(std::move(items), std::move(f));
  auto tick_label = std::make_shared<std::string>(label);
  for (size_t i = 0; i < shared->first.size(); ++i)
    pending.push_back(start_task(pool, [shared, tick_label, i] {
      R r = shared->second(shared->first[i]);
      progress_tick(*tick_label);
      return r;
    }));
  return PendingMap<R>(std::move(pending));
}

}  // namespace corvale
