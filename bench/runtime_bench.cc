// Cost of the runtime support: a progress tick with drawing off, and a pmap of
// blocking items.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "parallel/pmap.h"
#include "parallel/progress.h"
#include "util/regex.h"

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

// find_all over 600 KB with 100,000 matches: linear, not quadratic.
void BM_RegexFindAllLarge(benchmark::State& state) {
  std::string s;
  s.reserve(600000);
  for (int i = 0; i < 100000; ++i) s.append("ab 12 ", 6);
  auto re = Regex::compile(R"(\d+)");
  for (auto _ : state) benchmark::DoNotOptimize(re->find_all(s).size());
}
BENCHMARK(BM_RegexFindAllLarge)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvale

BENCHMARK_MAIN();
