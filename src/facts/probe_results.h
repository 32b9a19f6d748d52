// The run's one record of ping and DNS results: the collect stage fills it
// with what its own probes found, the pre-warm adds what is missing, and the
// graph, the report, the console and the findings read it.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "facts/facts.h"

namespace corvale {

struct ProbeResults {
  std::map<std::string, PingResult> pings;    // by host as pinged ("fe80::1%2")
  std::map<std::string, DnsProbeResult> dns;  // by resolver address
};

/// Answers from results already held; a key they lack is probed once through
/// `probe`, kept for the next ask and counted as a miss.
template <typename Result>
class ProbeOnMiss {
 public:
  using Probe = std::function<Result(const std::string& key)>;
  ProbeOnMiss(const std::map<std::string, Result>& known, Probe probe)
      : known_(known), probe_(std::move(probe)) {}

  Result get(const std::string& key) {
    if (auto it = known_.find(key); it != known_.end()) return it->second;
    if (auto it = live_.find(key); it != live_.end()) return it->second;
    ++misses_;
    Result r = probe_ ? probe_(key) : Result{};
    live_.emplace(key, r);
    return r;
  }
  size_t misses() const { return misses_; }

 private:
  const std::map<std::string, Result>& known_;
  Probe probe_;
  std::map<std::string, Result> live_;
  size_t misses_ = 0;
};

}  // namespace corvale
