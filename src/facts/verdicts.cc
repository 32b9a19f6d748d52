#include "facts/verdicts.h"

#include <string>
#include <utility>

namespace corvale {

std::string_view verdict_text(AdapterVerdict verdict) {
  switch (verdict) {
    case AdapterVerdict::kTunnel:
      return "Tunnel";
    case AdapterVerdict::kSuspectedTunnel:
      return "SuspectedTunnel";
    case AdapterVerdict::kCarrier:
      return "Carrier";
    case AdapterVerdict::kAmbiguousRoute:
      return "AmbiguousRoute";
    case AdapterVerdict::kOther:
      return "Other";
    case AdapterVerdict::kUnassessed:
      break;
  }
  return "";
}

std::string_view level_text(InterceptionLevel level) {
  switch (level) {
    case InterceptionLevel::kPossible:
      return "POSSIBLE";
    case InterceptionLevel::kLikely:
      return "LIKELY";
    case InterceptionLevel::kVisibleTunnel:
      return "VISIBLE-TUNNEL";
    case InterceptionLevel::kExplicitProxy:
      return "EXPLICIT-PROXY";
    case InterceptionLevel::kNone:
      break;
  }
  return "NONE";
}

std::string_view protocol_text(ProxyProtocol protocol) {
  switch (protocol) {
    case ProxyProtocol::kSocks5:
      return "SOCKS5";
    case ProxyProtocol::kHttpConnect:
      return "HTTP CONNECT";
    case ProxyProtocol::kNone:
      break;
  }
  return "";
}

std::string_view level_text(CandidateLevel level) {
  switch (level) {
    case CandidateLevel::kCandidate:
      return "candidate";
    case CandidateLevel::kInvestigate:
      return "investigate";
    case CandidateLevel::kInventory:
      break;
  }
  return "inventory";
}

CoreInbound inbound_kind(std::string_view type) {
  // Inbound types as mihomo names them; sing-box's are lower case.
  static constexpr std::pair<std::string_view, CoreInbound> kTypes[] = {
      {"tun", CoreInbound::kTunnel},         {"mixed", CoreInbound::kExplicit},
      {"http", CoreInbound::kExplicit},      {"https", CoreInbound::kExplicit},
      {"socks", CoreInbound::kExplicit},     {"socks4", CoreInbound::kExplicit},
      {"socks5", CoreInbound::kExplicit},    {"redir", CoreInbound::kTransparent},
      {"tproxy", CoreInbound::kTransparent},
  };
  std::string lower(type);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const auto& [name, kind] : kTypes)
    if (lower == name) return kind;
  return CoreInbound::kUnknown;
}

std::string_view inbound_text(CoreInbound inbound) {
  switch (inbound) {
    case CoreInbound::kTunnel:
      return "capture by the tunnel";
    case CoreInbound::kExplicit:
      return "explicit use of the proxy";
    case CoreInbound::kTransparent:
      return "transparent redirect";
    case CoreInbound::kUnknown:
      break;
  }
  return "";
}

}  // namespace corvale
