// What the diagnosis rules share: the draft a rule returns, the context it
// reads, the readings of the facts several rule groups use, and the rules of
// each group (findings_link.cc, findings_campus.cc, findings_dns.cc,
// findings_proxy.cc, findings_routing.cc) that the table in findings.cc walks.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facts/findings.h"
#include "facts/phrase.h"

namespace corvale::diagnosis {

struct Context {
  const Facts& f;
  const ResolverResults& resolvers;
  std::vector<Finding> found;  // in table order so far
  Translate translate;         // empty: English only

  bool fired(std::string_view code) const {
    return std::any_of(found.begin(), found.end(),
                       [&](const Finding& x) { return x.code == code; });
  }

  /// A part of a sentence (a word, a clause) in English and the user's language.
  template <class... Args>
  Phrase phrase(fmt::format_string<phrase_detail::English<Args>...> format, Args&&... args) const {
    return phrase_detail::localize_checked(translate, format, args...);
  }
};

// What one rule found; the table row adds the code and, unless the rule
// overrides it, the severity. The sentence is written only through say(), so
// that every sentence reaches the catalog and the user's language.
class Draft {
 public:
  std::vector<std::string> evidence;
  std::optional<Severity> severity;

  /// Sets the sentence: `format` is its English text and the catalog's msgid.
  template <class... Args>
  void say(const Context& c, fmt::format_string<phrase_detail::English<Args>...> format,
           Args&&... args) {
    Phrase p = phrase_detail::localize_checked(c.translate, format, args...);
    text_ = std::move(p.text);
    shown_ = std::move(p.shown);
  }
  /// Adds a sentence to the one said.
  template <class... Args>
  void say_more(const Context& c, fmt::format_string<phrase_detail::English<Args>...> format,
                Args&&... args) {
    Phrase p = phrase_detail::localize_checked(c.translate, format, args...);
    text_ += p.text;
    shown_ += p.shown;
  }
  const std::string& text() const { return text_; }
  const std::string& shown() const { return shown_; }

 private:
  std::string text_;
  std::string shown_;
};

using Check = std::optional<Draft> (*)(const Context&);

struct Rule {
  std::string_view code;
  Severity severity;
  Check check;
};

bool is_loopback_adapter(const Adapter& a);
std::vector<const Adapter*> links_up(const Facts& f);
const RouteEntry* first_default(const Facts& f, uint16_t family);
// The IPv4 default route the kernel really uses: the one on the egress
// adapter when the lookup named one, else the lowest metric.
const RouteEntry* egress_default_v4(const Facts& f);
const GatewayProbe* silent_gateway(const Facts& f, uint16_t family);
const GatewayProbe* answering_gateway(const Facts& f, uint16_t family);
std::string gateway_shown(const GatewayProbe& g);
std::string internet_evidence(const Facts& f, uint16_t family);
std::string gateway_evidence(const Facts& f, const GatewayProbe& g);
// The collect stage lists the campus hosts portal, resolver, resolver, API.
std::string campus_host(const Facts& f, size_t i, const char* fallback);
bool portal_answers(const Facts& f);
bool campus_all_silent(const Facts& f);
const AdapterAssessment* assessment_of(const Facts& f, uint32_t if_index);
// The tunnel adapter that carries IPv4 to the Internet, if it is one.
const Adapter* egress_tunnel(const Facts& f);
bool any_core_runs(const Facts& f);
// "a, b and c" in English and the user's language; items that are host texts
// (names, addresses) stay as they are.
Phrase list_phrase(const Context& c, const std::vector<Phrase>& items);
Phrase list_phrase(const Context& c, const std::vector<std::string>& items);
std::vector<std::string> configured_resolvers(const Facts& f);
// Configured resolvers (not loopback: their own rule) with an answer on record.
std::vector<std::pair<std::string, bool>> probed_resolvers(const Context& c);
std::vector<std::string> resolver_evidence(const Context& c);
InterceptionLevel effective_level(const Context& c);

std::optional<Draft> no_link_up(const Context& c);
std::optional<Draft> no_default_route(const Context& c);
std::optional<Draft> gateway_silent(const Context& c);
std::optional<Draft> gateway_ignores_ping(const Context& c);
std::optional<Draft> internet_silent(const Context& c);
std::optional<Draft> ipv6_broken(const Context& c);
std::optional<Draft> route_source_mismatch(const Context& c);
std::optional<Draft> all_clear(const Context& c);
std::optional<Draft> campus_logged_out(const Context& c);
std::optional<Draft> campus_dns_silent(const Context& c);
std::optional<Draft> campus_api_silent(const Context& c);
std::optional<Draft> stale_fake_dns(const Context& c);
std::optional<Draft> dns_loopback_dead(const Context& c);
std::optional<Draft> dns_silent(const Context& c);
std::optional<Draft> dns_server_silent(const Context& c);
std::optional<Draft> dns_fake_ip(const Context& c);
std::optional<Draft> stale_tunnel(const Context& c);
std::optional<Draft> tunnel_internet_silent(const Context& c);
std::optional<Draft> tunnel_default_route(const Context& c);
std::optional<Draft> proxy_setting_dead(const Context& c);
std::optional<Draft> system_proxy_dead(const Context& c);
std::optional<Draft> system_proxy_on(const Context& c);
std::optional<Draft> interception_likely(const Context& c);
std::optional<Draft> interception_possible(const Context& c);
std::optional<Draft> explicit_proxy(const Context& c);

/// A probed address (resolver, campus host, Internet target) whose route
/// goes into a local container or VM network instead of the links that carry
/// the rest: its silence is that network's doing, not the real network's.
bool captured_locally(const Facts& f, const std::string& address);

/// How to remove a tunnel's leftover default route: the route command, with
/// the table and the rules that lead to it when a policy table holds it.
std::string leftover_route_removal(const Facts& f, const Adapter& tunnel);

std::optional<Draft> local_route_capture(const Context& c);
std::optional<Draft> policy_rule_empty_table(const Context& c);

}  // namespace corvale::diagnosis
