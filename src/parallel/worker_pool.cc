#include "parallel/worker_pool.h"

namespace corvale {

WorkerPool::WorkerPool(size_t max_threads) : max_threads_(max_threads == 0 ? 1 : max_threads) {}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

void WorkerPool::submit(std::function<void()> task) {
  std::unique_lock guard(lock_);
  queue_.push_back(std::move(task));
  if (idle_ < queue_.size() && threads_.size() < max_threads_) {
    try {
      threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      // Threads already running take the task; without any, nothing would.
      if (threads_.empty()) {
        std::fputs("corvale: failed to spawn thread\n", stderr);
        std::exit(101);
      }
    }
  }
  guard.unlock();
  wake_.notify_one();
}

size_t WorkerPool::threads_started() const {
  std::lock_guard guard(lock_);
  return threads_.size();
}

void WorkerPool::work() {
  std::unique_lock guard(lock_);
  for (;;) {
    ++idle_;
    wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
    --idle_;
    if (queue_.empty()) return;  // stopping, and nothing left to run
    std::function<void()> task = std::move(queue_.front());
    queue_.pop_front();
    guard.unlock();
    task();
    guard.lock();
  }
}

}  // namespace corvale
