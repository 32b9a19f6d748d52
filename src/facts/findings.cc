#include "facts/findings.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <set>

#include "facts/adapter_assessment.h"
#include "facts/findings_rules.h"
#include "facts/lookup.h"
#include "facts/policy_routing.h"
#include "facts/runtime_process.h"
#include "util/enum_text.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace diagnosis {

namespace {

std::string answered(bool ok) { return ok ? "answers" : "no answer"; }

}  // namespace

bool is_loopback_adapter(const Adapter& a) {
  return a.if_type == kIfTypeLoopback || a.name == "lo";
}

std::vector<const Adapter*> links_up(const Facts& f) {
  std::vector<const Adapter*> up;
  for (const auto& a : f.adapters)
    if (a.is_up && !is_loopback_adapter(a)) up.push_back(&a);
  return up;
}

const RouteEntry* first_default(const Facts& f, uint16_t family) {
  const RouteEntry* best = nullptr;
  for (const auto& r : f.routes)
    if (r.family == family && is_default_route(r) && (!best || route_preferred(r, *best)))
      best = &r;
  return best;
}

// The IPv4 default route the kernel really uses: the one on the egress
// adapter when the lookup named one, else the lowest metric.
const RouteEntry* egress_default_v4(const Facts& f) {
  if (f.egress_v4)
    for (const auto& r : f.routes)
      if (r.family == kFamilyV4 && is_default_route(r) && r.if_index == f.egress_v4->if_index)
        return &r;
  return first_default(f, kFamilyV4);
}

const GatewayProbe* silent_gateway(const Facts& f, uint16_t family) {
  for (const auto& g : f.gateway_probes) {
    if (g.family != family || g.ok) continue;
    const Adapter* a = find_adapter(f, g.if_index);
    if (a && a->is_up) return &g;
  }
  return nullptr;
}

const GatewayProbe* answering_gateway(const Facts& f, uint16_t family) {
  for (const auto& g : f.gateway_probes)
    if (g.family == family && g.ok) return &g;
  return nullptr;
}

std::string gateway_shown(const GatewayProbe& g) {
  // Link-local gateways are pinged with their zone; the adapter is named anyway.
  return g.gateway.substr(0, g.gateway.find('%'));
}

std::string internet_evidence(const Facts& f, uint16_t family) {
  bool ok = family == kFamilyV4 ? f.internet_probes.v4.ok : f.internet_probes.v6.ok;
  return fmt::format("ping {}: {}", family == kFamilyV4 ? kInternetTargetV4 : kInternetTargetV6,
                     answered(ok));
}

std::string gateway_evidence(const Facts& f, const GatewayProbe& g) {
  return fmt::format("ping gateway {} ({}): {}", gateway_shown(g), adapter_label(f, g.if_index),
                     answered(g.ok));
}

// The collect stage lists the campus hosts portal, resolver, resolver, API.
std::string campus_host(const Facts& f, size_t i, const char* fallback) {
  const auto& r = f.campus_probes.reachability;
  return i < r.size() && !r[i].host.empty() ? r[i].host : fallback;
}

bool portal_answers(const Facts& f) {
  const auto& p = f.campus_probes.probes;
  return f.campus_probes.portal_ok || (p.size() > 1 && p[1].http.has_value());
}

bool campus_all_silent(const Facts& f) {
  const auto& r = f.campus_probes.reachability;
  return !r.empty() && std::none_of(r.begin(), r.end(), [](const auto& h) { return h.ping.ok; }) &&
         !portal_answers(f);
}

const AdapterAssessment* assessment_of(const Facts& f, uint32_t if_index) {
  auto it = f.assessments_by_index.find(if_index);
  return it == f.assessments_by_index.end() ? nullptr : &it->second;
}

// The tunnel adapter that carries IPv4 to the Internet, if it is one.
const Adapter* egress_tunnel(const Facts& f) {
  if (!f.egress_v4 || !is_tunnel_interface(f, f.egress_v4->if_index)) return nullptr;
  return find_adapter(f, f.egress_v4->if_index);
}

bool any_core_runs(const Facts& f) {
  return !f.proxy_processes.empty() || !f.core_infos.empty() || !f.driver_hits.empty() ||
         !f.service_hits.empty();
}

Phrase list_phrase(const Context& c, const std::vector<Phrase>& items) {
  if (items.size() <= 1) return items.empty() ? Phrase{} : items[0];
  Phrase head = items[0];
  // TRANSLATORS: between the items of a list, before its last "and".
  std::string comma = c.phrase(", ").shown;
  for (size_t k = 1; k + 1 < items.size(); ++k) {
    head.text += ", " + items[k].text;
    head.shown += comma + items[k].shown;
  }
  return c.phrase("{} and {}", head, items.back());
}

Phrase list_phrase(const Context& c, const std::vector<std::string>& items) {
  std::vector<Phrase> phrases;
  for (const auto& x : items) phrases.push_back({x, x});
  return list_phrase(c, phrases);
}

std::vector<std::string> configured_resolvers(const Facts& f) {
  std::vector<std::string> out;
  for (const auto& a : f.adapters)
    for (const auto& s : a.dns_servers)
      if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
  // Behind a local stub these are the servers that really answer.
  for (const auto& s : f.upstream_dns_servers)
    if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
  return out;
}

// Configured resolvers (not loopback: their own rule) with an answer on record.
std::vector<std::pair<std::string, bool>> probed_resolvers(const Context& c) {
  std::vector<std::pair<std::string, bool>> out;
  for (const auto& s : configured_resolvers(c.f)) {
    if (is_loopback_dns(s) || captured_locally(c.f, s)) continue;
    auto it = c.resolvers.find(s);
    if (it != c.resolvers.end()) out.emplace_back(s, it->second.ok);
  }
  return out;
}

std::vector<std::string> resolver_evidence(const Context& c) {
  std::vector<std::string> ev;
  for (const auto& [s, ok] : probed_resolvers(c))
    ev.push_back(fmt::format("DNS {}: {}", s, ok ? "answers" : "no answer"));
  return ev;
}

InterceptionLevel effective_level(const Context& c) { return c.f.interception.effective; }

}  // namespace diagnosis

namespace {

using namespace diagnosis;

// Evaluated top to bottom; a rule may look at what earlier rows found. The
// listing is then ordered by severity, rows of one severity in this order.
constexpr Rule kRules[] = {
    {"no-adapter-up", Severity::kProblem, no_link_up},
    {"no-default-route", Severity::kProblem, no_default_route},
    {"gateway-silent", Severity::kProblem, gateway_silent},
    {"stale-tunnel", Severity::kProblem, stale_tunnel},
    {"stale-fake-ip-dns", Severity::kProblem, stale_fake_dns},
    {"campus-logged-out", Severity::kProblem, campus_logged_out},
    {"internet-silent", Severity::kProblem, internet_silent},
    {"proxy-setting-dead", Severity::kProblem, proxy_setting_dead},
    {"system-proxy-dead", Severity::kProblem, system_proxy_dead},
    {"dns-loopback-dead", Severity::kProblem, dns_loopback_dead},
    {"dns-silent", Severity::kProblem, dns_silent},
    {"local-route-capture", Severity::kProblem, local_route_capture},
    {"tunnel-internet-silent", Severity::kWarning, tunnel_internet_silent},
    {"ipv6-broken", Severity::kWarning, ipv6_broken},
    {"dns-server-silent", Severity::kWarning, dns_server_silent},
    {"route-source-mismatch", Severity::kWarning, route_source_mismatch},
    {"interception-likely", Severity::kWarning, interception_likely},
    {"campus-dns-silent", Severity::kWarning, campus_dns_silent},
    {"campus-api-silent", Severity::kWarning, campus_api_silent},
    {"tunnel-default-route", Severity::kNote, tunnel_default_route},
    {"gateway-ignores-ping", Severity::kNote, gateway_ignores_ping},
    {"dns-fake-ip", Severity::kNote, dns_fake_ip},
    {"interception-possible", Severity::kNote, interception_possible},
    {"explicit-proxy", Severity::kNote, explicit_proxy},
    {"system-proxy-on", Severity::kNote, system_proxy_on},
    {"policy-rule-empty-table", Severity::kNote, policy_rule_empty_table},
    {"all-clear", Severity::kOk, all_clear},
};

}  // namespace

std::string_view severity_text(Severity severity) {
  static constexpr EnumWords<Severity> kWords[] = {
      {Severity::kProblem, "PROBLEM"},
      {Severity::kWarning, "WARNING"},
      {Severity::kNote, "NOTE"},
  };
  return enum_text(kWords, severity, "OK");
}

std::vector<Finding> diagnose(const Facts& facts, const ResolverResults& resolvers,
                              const Translate& translate) {
  Context c{facts, resolvers, {}, translate};
  for (const Rule& rule : kRules) {
    std::optional<Draft> d = rule.check(c);
    if (!d) continue;
    // Sentences carry host texts (adapter and process names, the portal's
    // error word): they leave here in the console's safe rendering, so no
    // reader of a finding meets a raw control or bidirectional character.
    for (auto& e : d->evidence) e = terminal_safe(e);
    c.found.push_back(Finding{d->severity.value_or(rule.severity), std::string(rule.code),
                              terminal_safe(d->text()), std::move(d->evidence),
                              terminal_safe(d->shown())});
  }
  std::stable_sort(c.found.begin(), c.found.end(),
                   [](const Finding& a, const Finding& b) { return a.severity < b.severity; });
  return std::move(c.found);
}

}  // namespace corvale
