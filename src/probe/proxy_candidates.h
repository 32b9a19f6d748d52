// Ranks every local listening endpoint as a possible proxy or tunnel core,
// spends a bounded budget of SOCKS5 / HTTP CONNECT probes on the most
// promising ones and scores the evidence. A listener counts as the one a
// proxy setting names when listener_accepts (facts/lookup.h) says so.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "util/regex.h"

namespace corvale {

inline constexpr size_t kSocks5ProbeBudget = 72;
inline constexpr size_t kConnectProbeBudget = 36;

/// Environment variables read as proxy policy.
inline constexpr const char* kProxyVariables[] = {"HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY",
                                                  "FTP_PROXY", "SOCKS_PROXY"};

/// Interactive applications (browsers, chat, office, editors): a negative prior.
const Regex& interactive_app_pattern();
/// Known proxy and tunnel product names.
const Regex& proxy_tunnel_pattern();
/// Anything that may be a proxy core, including the generic words proxy/tunnel.
const Regex& proxy_core_pattern();
/// Weak hint of a proxy-like program that is not a known product.
const Regex& generic_proxy_pattern();

/// "{name} {exe_path} {command_line}", the text every identity pattern reads.
std::string process_identity(const ProcessInfo& p);
/// A proxy core: the core pattern matches and the text is either not an
/// interactive application or also names a proxy/tunnel product.
bool is_proxy_core_identity(std::string_view identity);

/// Full process records (with path and command line) keyed by pid; where a pid
/// is missing, the name from Facts::processes_by_pid is used alone.
using ProcessDetails = std::map<uint32_t, ProcessInfo>;

/// Environment lookup; absent when unset or not valid UTF-8.
using EnvLookup = std::function<std::optional<std::string>(const char* name)>;

/// Side effects of the assessment, replaceable in tests; defaults are the
/// real probes and the process environment.
struct ProbeFns {
  ProbeFns();
  std::function<bool(const std::string& host, uint16_t port)> socks5;
  std::function<std::string(const std::string& host, uint16_t port)> connect;
  EnvLookup env;
};

/// A proxy endpoint named by a policy setting, with every setting naming it.
struct PolicyEndpoint {
  std::string host;
  uint16_t port = 0;
  std::vector<std::string> sources;
};

/// Endpoints from the WinINET / WinHTTP texts of `settings` (when present) and
/// the proxy environment variables, merged by normalised host and port.
std::vector<PolicyEndpoint> policy_endpoints(const ProxySettings& settings, const EnvLookup& env);

/// Pids whose full details assess_proxy_candidates reads: owners of the
/// examined listeners, ascending.
std::vector<uint32_t> listener_owner_pids(const Facts& facts);

/// Ranks, probes and scores every examined listener of `facts`.
ProxyCandidates assess_proxy_candidates(const Facts& facts, const ProcessDetails& details,
                                        const ProbeFns& fns = ProbeFns());

/// Pids for the controller queries: proxy_processes plus owners of proxy-like
/// listeners (level candidate or investigate), ascending, each once, kept only
/// when their identity passes is_proxy_core_identity.
std::vector<uint32_t> proxy_core_pids(const Facts& facts, const ProcessDetails& details);

}  // namespace corvale
