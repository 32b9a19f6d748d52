// The rules about name resolution: the configured resolvers, their answers
// and the resolvers a stopped proxy core left behind.
#include <fmt/format.h>

#include <algorithm>

#include "facts/adapter_assessment.h"
#include "facts/findings_rules.h"
#include "facts/lookup.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale::diagnosis {

namespace {

bool listens_on_53(const Facts& f, const std::string& address) {
  std::string want = normalize_ip_text(address);
  auto serves = [&](const SocketEntry& s) {
    return s.local_port == 53 &&
           (normalize_ip_text(s.local_address) == want || is_unspecified_ip(s.local_address));
  };
  return std::any_of(f.udp_sockets.begin(), f.udp_sockets.end(), serves) ||
         std::any_of(f.tcp_listeners.begin(), f.tcp_listeners.end(), serves);
}

}  // namespace

std::optional<Draft> stale_fake_dns(const Context& c) {
  const Facts& f = c.f;
  if (egress_tunnel(f) || any_core_runs(f)) return std::nullopt;
  std::vector<std::string> fake;
  for (const auto& s : configured_resolvers(f))
    if (is_fake_ip_style(s)) fake.push_back(s);
  if (fake.empty()) return std::nullopt;
  Draft d;
  d.say(c,
        "DNS points at {}, a fake-IP resolver of a proxy core that no longer runs: name lookups "
        "through it fail. Point /etc/resolv.conf back at the network's DNS servers.",
        join(fake, ", "));
  d.evidence = {fmt::format("DNS servers: {}", join(configured_resolvers(f), ", ")),
                "proxy/VPN processes and services: none"};
  return d;
}

std::optional<Draft> dns_loopback_dead(const Context& c) {
  const Facts& f = c.f;
  auto all = configured_resolvers(f);
  std::vector<std::string> dead;
  for (const auto& s : all) {
    if (!is_loopback_dns(s) || listens_on_53(f, s)) continue;
    auto it = c.resolvers.find(s);
    if (it != c.resolvers.end() && it->second.ok) continue;
    dead.push_back(s);
  }
  if (dead.empty()) return std::nullopt;
  Draft d;
  bool only = dead.size() == all.size();
  if (only)
    d.say(c,
          "DNS points at {}, but nothing listens on port 53 there: name lookups fail. Start the "
          "local resolver (for example systemd-resolved) or point /etc/resolv.conf at a working "
          "server.",
          join(dead, ", "));
  else
    d.say(c,
          "DNS points at {}, but nothing listens on port 53 there: lookups that try it first are "
          "slowed down. Start the local resolver (for example systemd-resolved) or point "
          "/etc/resolv.conf at a working server.",
          join(dead, ", "));
  if (!only) d.severity = Severity::kWarning;
  for (const auto& s : dead) d.evidence.push_back(fmt::format("no UDP/TCP listener on {}:53", s));
  d.evidence.push_back(fmt::format("DNS servers: {}", join(all, ", ")));
  return d;
}

std::optional<Draft> dns_silent(const Context& c) {
  auto probed = probed_resolvers(c);
  if (probed.empty() || !c.f.internet_probes.v4.ok) return std::nullopt;
  if (std::any_of(probed.begin(), probed.end(), [](const auto& p) { return p.second; }))
    return std::nullopt;
  std::vector<std::string> names;
  for (const auto& p : probed) names.push_back(p.first);
  Draft d;
  if (names.size() > 1)
    d.say(c,
          "DNS servers {} do not answer, though the Internet ({}) does: names do not resolve, so "
          "web pages do not load. Use another DNS server or ask the network's admin.",
          join(names, ", "), kInternetTargetV4);
  else
    d.say(c,
          "DNS server {} does not answer, though the Internet ({}) does: names do not resolve, so "
          "web pages do not load. Use another DNS server or ask the network's admin.",
          names[0], kInternetTargetV4);
  d.evidence = resolver_evidence(c);
  d.evidence.push_back(internet_evidence(c.f, kFamilyV4));
  return d;
}

std::optional<Draft> dns_server_silent(const Context& c) {
  auto probed = probed_resolvers(c);
  std::vector<std::string> silent, answering;
  for (const auto& [s, ok] : probed) (ok ? answering : silent).push_back(s);
  if (silent.empty() || answering.empty()) return std::nullopt;
  Draft d;
  if (silent.size() > 1)
    d.say(c,
          "DNS servers {} do not answer ({} does): lookups that try it first wait for a time-out. "
          "Remove it from the network settings.",
          join(silent, ", "), answering[0]);
  else
    d.say(c,
          "DNS server {} does not answer ({} does): lookups that try it first wait for a "
          "time-out. Remove it from the network settings.",
          silent[0], answering[0]);
  d.evidence = resolver_evidence(c);
  return d;
}

std::optional<Draft> dns_fake_ip(const Context& c) {
  std::vector<std::pair<std::string, std::string>> fake;  // resolver, answer
  for (const auto& [s, r] : c.resolvers)
    if (r.ok && is_fake_ip_style(r.answer)) fake.emplace_back(s, r.answer);
  const auto& p = c.f.campus_probes.probes;
  for (size_t k : {size_t{2}, size_t{3}})
    if (k < p.size() && p[k].dns && p[k].dns->ok && is_fake_ip_style(p[k].dns->answer)) {
      std::string host = campus_host(c.f, k - 1, "campus resolver");
      if (!c.resolvers.contains(host)) fake.emplace_back(host, p[k].dns->answer);
    }
  if (fake.empty()) return std::nullopt;
  Draft d;
  d.say(c,
        "DNS server {} answers with the fake-IP address {}: a proxy core answers name lookups, "
        "and those addresses only work through it.",
        fake[0].first, fake[0].second);
  for (const auto& [s, a] : fake) d.evidence.push_back(fmt::format("DNS {} -> {}", s, a));
  return d;
}

}  // namespace corvale::diagnosis
