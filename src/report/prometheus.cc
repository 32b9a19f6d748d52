#include "report/prometheus.h"

#include <fmt/format.h>

#include <optional>
#include <set>
#include <utility>

#include "facts/lookup.h"
#include "facts/proxy_settings.h"
#include "util/text.h"

namespace corvale {
namespace {

using Labels = std::vector<std::pair<std::string_view, std::string>>;

// One metric family: its HELP and TYPE lines, then its samples. A label set
// already written is skipped, since the collector drops a file that repeats a
// series.
class Family {
 public:
  Family(std::string& out, std::string_view name, std::string_view help) : out_(out), name_(name) {
    out_ += fmt::format("# HELP {} {}\n# TYPE {} gauge\n", name, help, name);
  }

  void sample(const Labels& labels, std::string_view value) {
    std::string set;
    for (const auto& [key, raw] : labels) {
      if (!set.empty()) set += ',';
      set += fmt::format("{}=\"{}\"", key, prometheus_label_value(raw));
    }
    if (!written_.insert(set).second) return;
    if (set.empty()) {
      out_ += fmt::format("{} {}\n", name_, value);
    } else {
      out_ += fmt::format("{}{{{}}} {}\n", name_, set, value);
    }
  }

 private:
  std::string& out_;
  std::string_view name_;
  std::set<std::string> written_;
};

struct Probe {
  std::string target;
  std::string_view kind;
  uint16_t family = kFamilyV4;
  bool up = false;
  std::optional<double> rtt_seconds;  // only for a probe that answered
};

std::string_view family_text(uint16_t family) { return family == kFamilyV6 ? "ipv6" : "ipv4"; }

uint16_t family_of(std::string_view address) {
  return address.find(':') == std::string_view::npos ? kFamilyV4 : kFamilyV6;
}

std::optional<double> ping_rtt(const PingResult& p) {
  if (!p.ok || p.rtt_ms < 0) return std::nullopt;
  return static_cast<double>(p.rtt_ms) / 1000.0;
}

std::optional<double> millis(uint64_t ms) {
  if (ms == kNoReplyMs) return std::nullopt;
  return static_cast<double>(ms) / 1000.0;
}

Probe ping_probe_row(std::string target, std::string_view kind, const PingResult& p) {
  uint16_t family = family_of(target);
  return {std::move(target), kind, family, p.ok, ping_rtt(p)};
}

// The portal's three HTTP services: its page (up only with the page itself),
// the login-status service and the authentication API (up when it accepts a
// connection, even without an HTTP reply).
void add_portal_probes(const CampusProbes& c, std::vector<Probe>& out) {
  if (c.probes.size() < 5) return;
  auto http_rtt = [](const CampusProbeResult& r) {
    return r.http ? millis(r.http->elapsed_ms) : std::nullopt;
  };
  const CampusProbeResult& page = c.probes[0];
  out.push_back(
      {"portal", "portal", kFamilyV4, c.portal_ok, c.portal_ok ? http_rtt(page) : std::nullopt});
  const CampusProbeResult& login = c.probes[1];
  out.push_back({"login-status", "portal", kFamilyV4, login.http.has_value(), http_rtt(login)});
  const CampusProbeResult& api = c.probes[4];
  if (api.http) {
    out.push_back({"auth-api", "portal", kFamilyV4, true, http_rtt(api)});
  } else {
    bool connected = api.tcp_fallback == TcpFallback::kConnected;
    out.push_back({"auth-api", "portal", kFamilyV4, connected,
                   connected ? millis(api.tcp_ms) : std::nullopt});
  }
}

std::vector<Probe> probes_of(const Facts& f, const ProbeResults& results) {
  const auto& pings = results.pings;
  const auto& resolvers = results.dns;
  std::vector<Probe> out;
  for (const auto& g : f.gateway_probes) {
    std::optional<double> rtt;
    if (auto it = pings.find(g.gateway); g.ok && it != pings.end()) rtt = ping_rtt(it->second);
    out.push_back({g.gateway, "gateway", g.family, g.ok, rtt});
  }
  out.push_back(ping_probe_row(kInternetTargetV4, "public", f.internet_probes.v4));
  out.push_back(ping_probe_row(kInternetTargetV6, "public", f.internet_probes.v6));
  for (const auto& h : f.campus_probes.reachability)
    out.push_back(ping_probe_row(h.host, "campus", h.ping));
  for (const auto& [resolver, answer] : resolvers)
    out.push_back({resolver, "dns", family_of(resolver), answer.ok,
                   answer.ok ? millis(answer.elapsed_ms) : std::nullopt});
  add_portal_probes(f.campus_probes, out);
  return out;
}

void add_egress(const Facts& f, Family& family, uint16_t fam,
                const std::optional<RouteLookup>& lookup) {
  if (!lookup) {
    family.sample(
        {{"family", std::string(family_text(fam))}, {"interface", ""}, {"verdict", "none"}}, "1");
    return;
  }
  std::string verdict = "unknown";
  if (auto it = f.assessments_by_index.find(lookup->if_index);
      it != f.assessments_by_index.end() && it->second.verdict != AdapterVerdict::kUnassessed)
    verdict = verdict_text(it->second.verdict);
  family.sample({{"family", std::string(family_text(fam))},
                 {"interface", adapter_label(f, lookup->if_index)},
                 {"verdict", verdict}},
                "1");
}

}  // namespace

std::string prometheus_label_value(std::string_view raw) {
  std::string clean = redact_proxy_credentials(decode_utf8_lossy(raw));
  std::string out;
  out.reserve(clean.size());
  for (char c : clean) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string render_prometheus(const Facts& facts, const std::vector<Finding>& findings,
                              const ProbeResults& probes, const MetricsRun& run) {
  std::string out;
  Family(out, "corvale_build_info", "The corvale version that wrote these metrics.")
      .sample({{"version", std::string(run.version)}}, "1");
  Family(out, "corvale_last_run_timestamp_seconds",
         "When the run that wrote these metrics ended, in seconds since the epoch.")
      .sample({}, fmt::format("{}", run.finished_unix_seconds));
  Family(out, "corvale_run_duration_seconds", "How long the run took.")
      .sample({}, fmt::format("{:.3f}", run.duration_seconds));

  Family finding(out, "corvale_finding",
                 "A finding of the run: what is wrong (code) and how much it matters (severity).");
  for (const auto& x : findings)
    finding.sample({{"code", x.code}, {"severity", to_lower(severity_text(x.severity))}}, "1");

  std::vector<Probe> rows = probes_of(facts, probes);
  auto labels = [](const Probe& p) -> Labels {
    return {{"target", p.target},
            {"kind", std::string(p.kind)},
            {"family", std::string(family_text(p.family))}};
  };
  Family up(out, "corvale_probe_up",
            "Whether the probe of a gateway, public host, campus host, resolver or portal "
            "service answered (1) or not (0).");
  for (const auto& p : rows) up.sample(labels(p), p.up ? "1" : "0");
  Family rtt(out, "corvale_probe_rtt_seconds",
             "How long an answered probe took to answer, in seconds.");
  for (const auto& p : rows)
    if (p.rtt_seconds) rtt.sample(labels(p), fmt::format("{:.3f}", *p.rtt_seconds));

  Family egress(out, "corvale_egress_info",
                "The interface that carries the default egress of a family, and its verdict.");
  add_egress(facts, egress, kFamilyV4, facts.egress_v4);
  add_egress(facts, egress, kFamilyV6, facts.egress_v6);
  Family(out, "corvale_interception_level", "How strong the evidence of traffic interception is.")
      .sample({{"level", std::string(level_text(facts.interception.effective))}}, "1");
  Family(out, "corvale_proxy_candidates", "Local listeners scored as proxy candidates.")
      .sample({}, fmt::format("{}", facts.proxy_candidates.candidates.size()));
  return out;
}

}  // namespace corvale
