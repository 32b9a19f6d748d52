#include "facts/interception.h"

#include <algorithm>

#include "facts/adapter_assessment.h"
#include "facts/lookup.h"
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

ExplicitPolicy explicit_policy_of(const Facts& facts) {
  // The same endpoints and the same listener rule the graph's policy cards use.
  bool listened = std::any_of(facts.proxy_settings.endpoints.begin(),
                              facts.proxy_settings.endpoints.end(), [&](const ProxyEndpoint& e) {
                                return is_local_host(facts, e.host) &&
                                       accepting_listener(facts, e.host, e.port);
                              });
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
