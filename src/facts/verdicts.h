// The verdicts the assessments reach. They are compared as enumerations and
// turned into text only where they are printed or written, by one function each.
#pragma once

#include <string_view>

namespace corvale {

/// What one adapter's evidence says it is; kUnassessed until assessed.
enum class AdapterVerdict {
  kUnassessed,
  kTunnel,
  kSuspectedTunnel,
  kCarrier,
  kAmbiguousRoute,
  kOther
};
/// "Tunnel", "SuspectedTunnel", "Carrier", "AmbiguousRoute", "Other"; empty when unassessed.
std::string_view verdict_text(AdapterVerdict verdict);

/// How strongly the evidence says the host's traffic is taken over before it
/// reaches the physical network. kExplicitProxy is never assessed from the
/// evidence alone: it is the effective level when explicit proxy settings
/// explain that evidence.
enum class InterceptionLevel { kNone, kPossible, kLikely, kVisibleTunnel, kExplicitProxy };
/// "NONE", "POSSIBLE", "LIKELY", "VISIBLE-TUNNEL", "EXPLICIT-PROXY".
std::string_view level_text(InterceptionLevel level);

/// How strongly a local listener's evidence makes it a proxy: candidates and
/// listeners to investigate are "proxy-like".
enum class CandidateLevel { kInventory, kInvestigate, kCandidate };
/// "inventory", "investigate", "candidate".
std::string_view level_text(CandidateLevel level);
inline bool is_proxy_like(CandidateLevel level) { return level != CandidateLevel::kInventory; }

/// How a connection reached the proxy core, from its inbound type: captured
/// by the tunnel, sent to a proxy port on purpose (mixed, HTTP, SOCKS), or
/// diverted by the firewall (redirect, TPROXY).
enum class CoreInbound { kUnknown, kTunnel, kExplicit, kTransparent };
/// The kind of a /connections `type` ("Tun", "Mixed", "HTTP", "Socks5", …).
CoreInbound inbound_kind(std::string_view type);
/// "capture by the tunnel", "explicit use of the proxy", "transparent redirect"; empty when
/// unknown.
std::string_view inbound_text(CoreInbound inbound);

/// What a local listener answered to the proxy probes.
enum class ProxyProtocol { kNone, kSocks5, kHttpConnect };
/// "SOCKS5", "HTTP CONNECT"; empty when it answered neither.
std::string_view protocol_text(ProxyProtocol protocol);

/// Whether a program's explicit proxy setting explains the interception
/// evidence: it does when a configured local endpoint has a listener and no
/// tunnel carries traffic.
enum class ExplicitPolicy { kNoLocalListener, kTunnelCarries, kAttributed };

}  // namespace corvale
