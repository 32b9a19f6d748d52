// Masking of one command-line argument at the kernel's per-argument limit
// (128 KiB) and at its halves: the time per byte stays flat when masking is
// linear, and doubles with each doubling when it rescans the rest of the
// argument at every '='.
#include <benchmark/benchmark.h>

#include <string>

#include "facts/proxy_settings.h"
#include "util/userinfo.h"

namespace corvale {
namespace {

std::string repeated(std::string_view unit, size_t size) {
  std::string s;
  while (s.size() < size) s += unit;
  return s.substr(0, size);
}

// Shapes that were quadratic: many '=' with no '&' or blank, each value
// opening a quote, and URL user-info with '@' all along.
const char* const kUnits[] = {"a=", "a='", "a=\"b", "http://u:p@h="};

void BM_RedactCommandLine(benchmark::State& state) {
  const std::string line = "core --opt " + repeated(kUnits[state.range(1)], state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(redact_command_line(line));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_RedactCommandLine)
    ->ArgsProduct({{32 << 10, 64 << 10, 128 << 10}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

void BM_StripUserinfo(benchmark::State& state) {
  const std::string text = repeated("a://b:c/d;e@f:1,", state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(strip_userinfo(text, ""));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_StripUserinfo)->Arg(128 << 10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvale

BENCHMARK_MAIN();
