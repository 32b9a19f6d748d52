// Ranks every local listening endpoint as a possible proxy or tunnel core,
// spends a bounded budget of SOCKS5 / HTTP CONNECT probes on the most
// promising ones and scores the evidence.
//
// Host compatibility between a configured proxy endpoint and a listener: the
// ports must be equal. Equal addresses after normalisation match. A loopback
// name in the setting ("localhost", any 127.x address, ::1) matches a listener
// bound to a loopback address. A listener bound to an unspecified address
// accepts a setting that names loopback or one of the host's own addresses of
// its family: 0.0.0.0 takes IPv4 loopback, "localhost" and own IPv4 addresses;
// :: takes these of both families, since a dual-stack socket also accepts
// IPv4. Any other host name (including a remote address) matches nothing.
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
#include "facts/interception.h"  // policy_host_matches
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
