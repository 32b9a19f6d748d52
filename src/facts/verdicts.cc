#include "facts/verdicts.h"

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

}  // namespace corvale
