#include "parallel/workers.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "util/file.h"
#include "util/text.h"

namespace corvale {
namespace {

std::optional<unsigned> affinity_count() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return std::nullopt;
  int n = CPU_COUNT(&set);
  if (n <= 0) return std::nullopt;
  return static_cast<unsigned>(n);
}

std::optional<unsigned> online_count() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  if (n <= 0) return std::nullopt;
  return static_cast<unsigned>(n);
}

std::optional<double> cgroup_quota() {
  if (auto t = read_file("/sys/fs/cgroup/cpu.max", 256)) return parse_cpu_max(*t);
  // cgroup v1
  auto q = read_file("/sys/fs/cgroup/cpu/cpu.cfs_quota_us", 64);
  auto p = read_file("/sys/fs/cgroup/cpu/cpu.cfs_period_us", 64);
  if (!q || !p) return std::nullopt;
  try {
    long long quota = std::stoll(trim(*q));
    long long period = std::stoll(trim(*p));
    if (quota <= 0 || period <= 0) return std::nullopt;
    return static_cast<double>(quota) / static_cast<double>(period);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

std::optional<double> parse_cpu_max(std::string_view text) {
  auto f = split_ws(text);
  if (f.size() < 2 || f[0] == "max") return std::nullopt;
  auto quota = parse_uint<unsigned long long>(f[0]);
  auto period = parse_uint<unsigned long long>(f[1]);
  if (!quota || !period || *period == 0 || *quota == 0) return std::nullopt;
  return static_cast<double>(*quota) / static_cast<double>(*period);
}

unsigned worker_count_from(std::optional<unsigned> affinity, std::optional<unsigned> online,
                           std::optional<double> quota) {
  std::optional<unsigned> n = affinity ? affinity : online;
  if (quota) {
    unsigned q = std::max(1u, static_cast<unsigned>(std::ceil(*quota)));
    n = n ? std::min(*n, q) : q;
  }
  if (!n) return 8;
  unsigned w = 2 * *n;
  if (w < 5) w = 4;
  return std::min(w, 24u);
}

unsigned worker_count() {
  static const unsigned n = worker_count_from(affinity_count(), online_count(), cgroup_quota());
  return n;
}

}  // namespace corvale
