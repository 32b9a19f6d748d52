// The rules about the campus network: its portal, log-in, resolvers and API.
#include <fmt/format.h>

#include <algorithm>

#include "facts/adapter_assessment.h"
#include "facts/findings_rules.h"
#include "facts/lookup.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale::diagnosis {

std::optional<Draft> campus_logged_out(const Context& c) {
  const Facts& f = c.f;
  if (f.internet_probes.v4.ok || silent_gateway(f, kFamilyV4) || !portal_answers(f))
    return std::nullopt;
  // The portal's own word, never an empty user name: some portals leave it
  // empty for hosts that are online.
  if (f.campus_probes.login.error.find("not_online") == std::string::npos) return std::nullopt;
  std::string portal = campus_host(f, 0, "the campus portal");
  Draft d;
  d.say(c,
        "The campus portal {} answers, but says this host is not logged in (\"{}\"): the Internet "
        "stays blocked until you log in. Open http://{}/ in a browser and log in.",
        portal, f.campus_probes.login.error, portal);
  d.evidence = {
      fmt::format("portal {}: {}", portal, f.campus_probes.portal_ok ? "HTTP 200" : "answers"),
      fmt::format("login status error: {}", f.campus_probes.login.error),
      internet_evidence(f, kFamilyV4)};
  if (const GatewayProbe* g = answering_gateway(f, kFamilyV4))
    d.evidence.insert(d.evidence.begin(), gateway_evidence(f, *g));
  return d;
}

std::optional<Draft> campus_dns_silent(const Context& c) {
  const Facts& f = c.f;
  if (!f.campus_probes.portal_ok) return std::nullopt;
  std::vector<std::string> silent;
  const auto& p = f.campus_probes.probes;
  for (size_t k : {size_t{2}, size_t{3}}) {
    if (k >= p.size() || !p[k].dns || p[k].dns->ok) continue;
    std::string host = campus_host(f, k - 1, "a campus resolver");
    if (captured_locally(f, host)) continue;
    // Already told as the host's own DNS failing.
    auto conf = configured_resolvers(f);
    if (c.fired("dns-silent") && std::find(conf.begin(), conf.end(), host) != conf.end()) continue;
    silent.push_back(host);
  }
  if (silent.empty()) return std::nullopt;
  Draft d;
  if (silent.size() > 1)
    d.say(c,
          "Campus DNS {} do not answer while the portal does: campus names may not resolve. Tell "
          "the campus network's help desk.",
          join(silent, ", "));
  else
    d.say(c,
          "Campus DNS {} does not answer while the portal does: campus names may not resolve. "
          "Tell the campus network's help desk.",
          silent[0]);
  d.evidence = {fmt::format("portal {}: HTTP 200", campus_host(f, 0, "portal"))};
  for (const auto& s : silent) d.evidence.push_back(fmt::format("campus DNS {}: no answer", s));
  return d;
}

std::optional<Draft> campus_api_silent(const Context& c) {
  const Facts& f = c.f;
  const auto& p = f.campus_probes.probes;
  if (!f.campus_probes.portal_ok || p.size() <= 4) return std::nullopt;
  const CampusProbeResult& api = p[4];
  if ((api.http && api.http->status != 0) || api.tcp_fallback == TcpFallback::kConnected)
    return std::nullopt;
  std::string host = campus_host(f, 3, "the campus API");
  if (captured_locally(f, host)) return std::nullopt;
  Draft d;
  d.say(c,
        "The campus API {} does not answer while the portal does: logging in with the campus "
        "client may fail; log in through the portal page instead.",
        host);
  d.evidence = {fmt::format("portal {}: HTTP 200", campus_host(f, 0, "portal")),
                fmt::format("campus API {}: no HTTP answer, TCP connect failed", host)};
  return d;
}

}  // namespace corvale::diagnosis
