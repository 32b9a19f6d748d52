#include "probe/proxy_candidates.h"

#include <utility>
#include <vector>

#include "parallel/pmap.h"
#include "probe/probe.h"
#include "util/text.h"

namespace corvale {

ProbeFns::ProbeFns()
    : socks5([](const std::string& h, uint16_t p) { return socks5_probe(h, p); }),
      connect([](const std::string& h, uint16_t p) { return connect_probe(h, p); }) {}

ProxyCandidates assess_proxy_candidates(const Facts& facts, const ProcessDetails& details,
                                        const ProbeFns& fns) {
  const auto ranked =
      rank_listeners(facts, details, policy_endpoints(facts.proxy_settings, fns.env));
  std::vector<ProbeVerdicts> verdicts(ranked.size());

  const std::vector<size_t> socks_batch = socks5_batch(ranked);
  auto socks = pmap(socks_batch, "SOCKS5 probe", [&](size_t i) {
    return fns.socks5 ? fns.socks5(ranked[i].host, ranked[i].port) : false;
  });
  for (size_t k = 0; k < socks_batch.size(); ++k) {
    verdicts[socks_batch[k]].socks5 = socks[k];
    verdicts[socks_batch[k]].probed = true;
  }

  // Only the listeners that did not answer SOCKS5 are worth a CONNECT request.
  const std::vector<size_t> http_batch = connect_batch(ranked, verdicts);
  auto connect = pmap(http_batch, "HTTP CONNECT probe", [&](size_t i) {
    return fns.connect ? fns.connect(ranked[i].host, ranked[i].port) : std::string();
  });
  for (size_t k = 0; k < http_batch.size(); ++k) {
    verdicts[http_batch[k]].connect = std::move(connect[k]);
    verdicts[http_batch[k]].probed = true;
  }
  return score_candidates(ranked, verdicts);
}

}  // namespace corvale
