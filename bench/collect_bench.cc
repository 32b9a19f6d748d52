// Cost of the collector parsers on large hosts: a 20,000-line ss table and a
// /proc tree of 5,000 processes (a fake one in a temporary directory).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "linux/processes.h"
#include "linux/sockets.h"

namespace corvale {
namespace {

std::string ss_table(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    if (i % 10 == 0)
      text += "LISTEN 0      4096       [::]:" + std::to_string(1024 + i) +
              "          [::]:*     users:((\"sing-box\",pid=" + std::to_string(300 + i % 50) +
              ",fd=" + std::to_string(i) + "))\n";
    else
      text += "ESTAB  0      0      10.20.30.40:" + std::to_string(20000 + i % 40000) +
              " 203.0.113." + std::to_string(i % 250) +
              ":443 users:((\"firefox\",pid=" + std::to_string(1000 + i % 300) +
              ",fd=" + std::to_string(i) + "),(\"firefox\",pid=1001,fd=9))\n";
  }
  return text;
}

void BM_ParseSs20000(benchmark::State& state) {
  std::string text = ss_table(20000);
  for (auto _ : state) {
    auto entries = parse_ss_output(text, true);
    benchmark::DoNotOptimize(entries);
  }
  state.SetItemsProcessed(state.iterations() * 20000);
}
BENCHMARK(BM_ParseSs20000)->Unit(benchmark::kMillisecond);

void BM_MergeThreeSamples20000(benchmark::State& state) {
  auto sample = parse_ss_output(ss_table(20000), true);
  for (auto _ : state) {
    auto merged = merge_socket_samples({sample, sample, sample});
    benchmark::DoNotOptimize(merged);
  }
}
BENCHMARK(BM_MergeThreeSamples20000)->Unit(benchmark::kMillisecond);

class FakeProcTree {
 public:
  explicit FakeProcTree(int processes) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "corvale-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data())) root_ = tmpl;
    const char* names[] = {"bash", "firefox", "mihomo", "Clash-Verge", "sshd", "kworker/0:1"};
    for (int i = 0; i < processes; ++i) {
      std::string dir = root_ + "/" + std::to_string(100 + i);
      ::mkdir(dir.c_str(), 0755);
      std::ofstream(dir + "/comm") << names[i % 6] << "\n";
      std::ofstream(dir + "/cmdline", std::ios::binary) << names[i % 6] << '\0' << "--flag" << '\0';
      ::symlink("/usr/bin/true", (dir + "/exe").c_str());
    }
  }
  ~FakeProcTree() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

// Built once: the benchmark library calls each function several times.
const FakeProcTree& proc_tree() {
  static const FakeProcTree tree(5000);
  return tree;
}

void BM_ScanProcesses5000(benchmark::State& state) {
  const FakeProcTree& tree = proc_tree();
  for (auto _ : state) {
    auto scan = scan_processes(tree.root());
    benchmark::DoNotOptimize(scan);
  }
  state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_ScanProcesses5000)->Unit(benchmark::kMillisecond);

void BM_ReadProcessInfo5000(benchmark::State& state) {
  const FakeProcTree& tree = proc_tree();
  for (auto _ : state) {
    for (uint32_t pid = 100; pid < 5100; ++pid) {
      auto info = read_process_info(pid, tree.root());
      benchmark::DoNotOptimize(info);
    }
  }
}
BENCHMARK(BM_ReadProcessInfo5000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvale

BENCHMARK_MAIN();
