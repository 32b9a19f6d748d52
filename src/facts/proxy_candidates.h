// The rules of the proxy-candidate assessment, without any I/O: which local
// listening endpoints are examined, how they are ranked for the bounded probe
// budget, which of them the SOCKS5 and HTTP CONNECT batches take, and how the
// evidence turns into a score, a level and a signal list. The probes
// themselves run in probe/proxy_candidates.
// A listener counts as the one a proxy setting names when listener_accepts
// (facts/lookup.h) says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "util/environment.h"

namespace corvale {

inline constexpr size_t kSocks5ProbeBudget = 72;
inline constexpr size_t kConnectProbeBudget = 36;

/// Environment variables read as proxy policy.
inline constexpr const char* kProxyVariables[] = {"HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY",
                                                  "FTP_PROXY", "SOCKS_PROXY"};

/// Full process records (with path and command line) keyed by pid; where a pid
/// is missing, the name from Facts::processes_by_pid is used alone.
using ProcessDetails = std::map<uint32_t, ProcessInfo>;


/// A proxy endpoint named by a policy setting, with every setting naming it.
struct PolicyEndpoint {
  std::string host;
  uint16_t port = 0;
  std::vector<std::string> sources;
};

/// Endpoints from the WinINET / WinHTTP texts of `settings` (when present) and
/// the proxy environment variables, merged by normalised host and port.
std::vector<PolicyEndpoint> policy_endpoints(const ProxySettings& settings, const EnvLookup& env);

/// Pids whose full details the assessment reads: owners of the examined
/// listeners, ascending.
std::vector<uint32_t> listener_owner_pids(const Facts& facts);

/// Every examined listener of `facts` with its passive evidence, in probe
/// order: highest priority first.
std::vector<ListenerCandidate> rank_listeners(const Facts& facts, const ProcessDetails& details,
                                              const std::vector<PolicyEndpoint>& policies);

/// Whether a listener may be probed at all: a common application with no
/// other evidence is not.
bool is_probe_eligible(const ListenerCandidate& c);

/// What the active probes found for one ranked listener.
struct ProbeVerdicts {
  bool socks5 = false;
  std::string connect;  // the CONNECT verdict text, empty when none
  bool probed = false;  // taken by either batch
};

/// Indices into `ranked` of the SOCKS5 batch: the first eligible ones, within budget.
std::vector<size_t> socks5_batch(const std::vector<ListenerCandidate>& ranked);
/// Indices into `ranked` of the CONNECT batch, given the SOCKS5 verdicts in
/// `verdicts` (parallel to `ranked`).
std::vector<size_t> connect_batch(const std::vector<ListenerCandidate>& ranked,
                                  const std::vector<ProbeVerdicts>& verdicts);

/// Score, level and signals of one listener.
ProxyCandidateAssessment score_candidate(const ListenerCandidate& c, const ProbeVerdicts& v);
/// Every listener scored, ordered by pid, then port; the candidates also on their own.
ProxyCandidates score_candidates(const std::vector<ListenerCandidate>& ranked,
                                 const std::vector<ProbeVerdicts>& verdicts);

/// Pids for the controller queries: proxy_processes plus owners of proxy-like
/// listeners (level candidate or investigate), ascending, each once, kept only
/// when their identity passes is_proxy_core_identity.
std::vector<uint32_t> proxy_core_pids(const Facts& facts, const ProcessDetails& details);

}  // namespace corvale
