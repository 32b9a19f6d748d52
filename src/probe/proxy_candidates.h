// Spends the bounded budget of SOCKS5 / HTTP CONNECT probes on the local
// listeners that facts/proxy_candidates ranks highest, then scores them by its
// rules.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "facts/facts.h"
#include "facts/proxy_candidates.h"

namespace corvale {

/// Side effects of the assessment, replaceable in tests; defaults are the
/// real probes and no environment (the caller hands in its snapshot's lookup).
struct ProbeFns {
  ProbeFns();
  std::function<bool(const std::string& host, uint16_t port)> socks5;
  std::function<std::string(const std::string& host, uint16_t port)> connect;
  EnvLookup env;
};

/// Ranks, probes and scores every examined listener of `facts`.
ProxyCandidates assess_proxy_candidates(const Facts& facts, const ProcessDetails& details,
                                        const ProbeFns& fns = ProbeFns());

}  // namespace corvale
