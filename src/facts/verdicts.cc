#include "facts/verdicts.h"

#include "util/enum_text.h"

namespace corvale {

std::string_view verdict_text(AdapterVerdict verdict) {
  static constexpr EnumWords<AdapterVerdict> kWords[] = {
      {AdapterVerdict::kTunnel, "Tunnel"},   {AdapterVerdict::kSuspectedTunnel, "SuspectedTunnel"},
      {AdapterVerdict::kCarrier, "Carrier"}, {AdapterVerdict::kAmbiguousRoute, "AmbiguousRoute"},
      {AdapterVerdict::kOther, "Other"},
  };
  return enum_text(kWords, verdict);
}

std::string_view level_text(InterceptionLevel level) {
  static constexpr EnumWords<InterceptionLevel> kWords[] = {
      {InterceptionLevel::kPossible, "POSSIBLE"},
      {InterceptionLevel::kLikely, "LIKELY"},
      {InterceptionLevel::kVisibleTunnel, "VISIBLE-TUNNEL"},
      {InterceptionLevel::kExplicitProxy, "EXPLICIT-PROXY"},
  };
  return enum_text(kWords, level, "NONE");
}

std::string_view protocol_text(ProxyProtocol protocol) {
  static constexpr EnumWords<ProxyProtocol> kWords[] = {
      {ProxyProtocol::kSocks5, "SOCKS5"},
      {ProxyProtocol::kHttpConnect, "HTTP CONNECT"},
  };
  return enum_text(kWords, protocol);
}

std::string_view level_text(CandidateLevel level) {
  static constexpr EnumWords<CandidateLevel> kWords[] = {
      {CandidateLevel::kCandidate, "candidate"},
      {CandidateLevel::kInvestigate, "investigate"},
  };
  return enum_text(kWords, level, "inventory");
}

}  // namespace corvale
