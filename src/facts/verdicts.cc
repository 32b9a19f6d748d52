#include "facts/verdicts.h"

#include <string>
#include <utility>

#include "util/enum_text.h"
#include "util/text.h"

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

CoreInbound inbound_kind(std::string_view type) {
  // Inbound types as mihomo names them ("Tun", "HTTPS" for CONNECT); sing-box
  // writes its own in lower case with the inbound's tag: "mixed/mixed-in".
  static constexpr std::pair<std::string_view, CoreInbound> kTypes[] = {
      {"tun", CoreInbound::kTunnel},           {"mixed", CoreInbound::kExplicit},
      {"http", CoreInbound::kExplicit},        {"https", CoreInbound::kExplicit},
      {"socks", CoreInbound::kExplicit},       {"socks4", CoreInbound::kExplicit},
      {"socks5", CoreInbound::kExplicit},      {"redir", CoreInbound::kTransparent},
      {"redirect", CoreInbound::kTransparent}, {"tproxy", CoreInbound::kTransparent},
  };
  std::string lower = to_lower(type.substr(0, type.find('/')));
  for (const auto& [name, kind] : kTypes)
    if (lower == name) return kind;
  return CoreInbound::kUnknown;
}

std::string_view inbound_text(CoreInbound inbound) {
  static constexpr EnumWords<CoreInbound> kWords[] = {
      {CoreInbound::kTunnel, "capture by the tunnel"},
      {CoreInbound::kExplicit, "explicit use of the proxy"},
      {CoreInbound::kTransparent, "transparent redirect"},
  };
  return enum_text(kWords, inbound);
}

}  // namespace corvale
