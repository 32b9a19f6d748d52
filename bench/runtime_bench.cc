// Cost of the runtime support: a progress tick with drawing off, and a pmap of
// blocking items.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "parallel/pmap.h"
#include "parallel/progress.h"

namespace corvale {
namespace {

void BM_TickDisabled(benchmark::State& state) {
  progress_init(false);
  for (auto _ : state) progress_tick("label");
  benchmark::DoNotOptimize(progress_state()->done.load());
}
BENCHMARK(BM_TickDisabled);

// 50 items that each block 100 ms: expect about ceil(50 / workers) x 100 ms.
void BM_PmapBlocking50(benchmark::State& state) {
  progress_init(false);
  std::vector<int> items(50);
  for (auto _ : state) {
    auto r = pmap(items, "bench", [](int) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return 1;
    });
    benchmark::DoNotOptimize(r);
  }
  state.counters["workers"] = worker_count();
}
BENCHMARK(BM_PmapBlocking50)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace corvale

BENCHMARK_MAIN();
