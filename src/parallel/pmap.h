// Fans a batch of blocking probes out over scoped worker threads and returns
// the results in input order.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

#include "parallel/progress.h"
#include "parallel/workers.h"

namespace corvale {

/// Maps every item through `f` on up to worker_count() threads; ticks the
/// progress line with `label` once per finished item. `f` must not throw.
template <typename T, typename F>
auto pmap(const std::vector<T>& items, std::string_view label, F&& f, unsigned workers = 0)
    -> std::vector<std::invoke_result_t<F&, const T&>> {
  using R = std::invoke_result_t<F&, const T&>;
  if (items.empty()) return {};
  progress_add(items.size());
  if (workers == 0) workers = worker_count();
  size_t threads = std::min<size_t>(workers, items.size());
  std::atomic<size_t> next{0};
  std::mutex slots_lock;
  std::vector<std::optional<R>> slots(items.size());
  {
    std::vector<std::jthread> pool;
    pool.reserve(threads);
    for (size_t t = 0; t < threads; ++t) {
      pool.emplace_back([&] {
        for (;;) {
          size_t i = next.fetch_add(1);
          if (i >= items.size()) return;
          R r = f(items[i]);
          {
            std::lock_guard lock(slots_lock);
            slots[i] = std::move(r);
          }
          progress_tick(label);
        }
      });
    }
  }  // jthreads join here
  std::vector<R> out;
  out.reserve(items.size());
  for (auto& s : slots) {
    if (!s) {
      std::fputs("corvale: internal error: pmap slot\n", stderr);
      std::exit(101);
    }
    out.push_back(std::move(*s));
  }
  return out;
}

}  // namespace corvale
