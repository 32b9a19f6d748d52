#include "facts/interception.h"

#include <algorithm>

#include "facts/adapter_assessment.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

std::vector<uint32_t> sorted_unique(std::vector<uint32_t> v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

}  // namespace

InterceptionAssessment assess_interception(const Facts& facts) {
  InterceptionAssessment r;
  const AdapterAssessment* selected = nullptr;
  if (facts.egress_v4_adapter) {
    auto it = facts.assessments_by_index.find(facts.egress_v4_adapter->if_index);
    if (it != facts.assessments_by_index.end()) selected = &it->second;
  }

  double score = 0;
  if (selected && selected->verdict == AdapterVerdict::kSuspectedTunnel) {
    score = 4;
    r.signals.push_back(
        "selected default-route adapter is tunnel-like but not conclusively identified");
  } else if (selected && selected->verdict == AdapterVerdict::kTunnel) {
    r.signals.push_back("selected default-route adapter is an identified tunnel");
  }

  // Proxy-like listeners: the ones the candidate assessment did not leave as
  // plain inventory.
  std::vector<uint32_t> protocol_pids, proxy_like_pids;
  for (const auto& a : facts.proxy_candidates.assessments) {
    if (a.protocol != ProxyProtocol::kNone) {
      r.protocol_proxy_listeners.push_back(a);
      protocol_pids.push_back(a.pid);
    }
    if (is_proxy_like(a.level)) proxy_like_pids.push_back(a.pid);
  }
  r.protocol_proxy_processes = sorted_unique(std::move(protocol_pids));
  r.proxy_like_processes = sorted_unique(std::move(proxy_like_pids));

  if (!r.protocol_proxy_processes.empty()) {
    score += std::min<double>(static_cast<double>(r.protocol_proxy_processes.size()) + 3, 6);
    r.signals.push_back(
        "proxy protocol detected on local listener owner process(es), endpoint multiplicity "
        "collapsed");
  } else if (!r.proxy_like_processes.empty()) {
    score += 2;
    r.signals.push_back("proxy/tunnel-like local listener owner process(es)");
  }
  if (!facts.driver_hits.empty() || !facts.service_hits.empty()) {
    score += 3;
    r.signals.push_back("running VPN/TUN/redirect/filter driver or service identity");
  }
  if (facts.route_source.mismatch) {
    score += 5;
    r.signals.push_back("active TCP socket source interface disagrees with Find-NetRoute");
  }
  if (selected && (!selected->fake_ip_addresses.empty() || !selected->fake_ip_dns.empty())) {
    score += 3;
    r.signals.push_back("selected adapter exposes fake-IP style address/DNS");
  }

  r.score = score;
  if (selected && selected->verdict == AdapterVerdict::kTunnel) {
    r.level = InterceptionLevel::kVisibleTunnel;
    r.confidence = 1.0;
  } else if (score >= 8) {
    r.level = InterceptionLevel::kLikely;
    r.confidence = 0.86;
  } else if (score >= 4) {
    r.level = InterceptionLevel::kPossible;
    r.confidence = 0.58;
  } else {
    r.level = InterceptionLevel::kNone;
    r.confidence = 0.2;
  }
  return r;
}

bool policy_host_matches(std::string_view setting_host, std::string_view listener_host,
                         const std::set<std::string>& local_addresses) {
  std::string setting = normalize_ip_text(setting_host);
  std::string listener = normalize_ip_text(listener_host);
  if (setting.empty() || listener.empty()) return false;
  if (setting == listener) return true;
  bool setting_loopback = is_loopback_host(setting);
  if (setting_loopback && is_loopback_host(listener)) return true;
  if (!is_unspecified_ip(listener)) return false;
  auto setting_ip = parse_ip(setting);
  bool setting_own =
      setting_ip &&
      std::any_of(local_addresses.begin(), local_addresses.end(), [&](const std::string& a) {
        return to_lower(a) == to_lower(setting) ||
               normalize_ip_text(a) == normalize_ip_text(setting);
      });
  if (!setting_loopback && !setting_own) return false;
  if (listener == "::") return true;
  // 0.0.0.0 accepts IPv4 only; "localhost" also resolves to 127.0.0.1.
  return setting == "localhost" || (setting_ip && setting_ip->is_v4());
}

bool is_this_host(const Facts& facts, const std::string& host) {
  std::string n = normalize_ip_text(host);
  return is_loopback_host(host) || is_unspecified_ip(n) || facts.local_addresses.contains(n) ||
         facts.local_names.contains(to_lower(host));
}

ExplicitPolicy explicit_policy_of(const Facts& facts) {
  bool listened = false;
  for (const auto& e : facts.proxy_settings.endpoints) {
    if (!is_this_host(facts, e.host)) continue;
    listened = listened || std::any_of(facts.tcp_listeners.begin(), facts.tcp_listeners.end(),
                                       [&](const SocketEntry& l) {
                                         return l.local_port == e.port &&
                                                policy_host_matches(e.host, l.local_address,
                                                                    facts.local_addresses);
                                       });
  }
  if (!listened) return ExplicitPolicy::kNoLocalListener;
  for (const auto& a : facts.adapters)
    if (a.is_up && is_tunnel_interface(facts, a.if_index)) return ExplicitPolicy::kTunnelCarries;
  for (const auto& c : facts.core_infos)
    if (!c.connections.empty()) return ExplicitPolicy::kTunnelCarries;
  return ExplicitPolicy::kAttributed;
}

void decide_interception(Facts& facts) {
  InterceptionAssessment& i = facts.interception;
  i.explicit_policy = explicit_policy_of(facts);
  i.effective =
      i.level != InterceptionLevel::kNone && i.explicit_policy == ExplicitPolicy::kAttributed
          ? InterceptionLevel::kExplicitProxy
          : i.level;
}

}  // namespace corvale
