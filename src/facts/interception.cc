#include "facts/interception.h"

#include <algorithm>

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
  if (selected && selected->verdict == "SuspectedTunnel") {
    score = 4;
    r.signals.push_back(
        "selected default-route adapter is tunnel-like but not conclusively identified");
  } else if (selected && selected->verdict == "Tunnel") {
    r.signals.push_back("selected default-route adapter is an identified tunnel");
  }

  // Proxy-like listeners: the ones the candidate assessment did not leave as
  // plain inventory.
  std::vector<uint32_t> protocol_pids, proxy_like_pids;
  for (const auto& a : facts.proxy_candidates.assessments) {
    if (a.protocol == "SOCKS5" || a.protocol == "HTTP CONNECT") {
      r.protocol_proxy_listeners.push_back(a);
      protocol_pids.push_back(a.pid);
    }
    if (a.level == "candidate" || a.level == "investigate") proxy_like_pids.push_back(a.pid);
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
  if (selected && selected->verdict == "Tunnel") {
    r.level = "VISIBLE-TUNNEL";
    r.confidence = 1.0;
  } else if (score >= 8) {
    r.level = "LIKELY";
    r.confidence = 0.86;
  } else if (score >= 4) {
    r.level = "POSSIBLE";
    r.confidence = 0.58;
  } else {
    r.level = "NONE";
    r.confidence = 0.2;
  }
  return r;
}

}  // namespace corvale
