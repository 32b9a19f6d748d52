#include "facts/proxy_candidates.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <utility>

#include "facts/desktop_proxy.h"
#include "facts/lookup.h"
#include "facts/products.h"
#include "facts/proxy_settings.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

constexpr std::array<uint16_t, 13> kCommonProxyPorts = {1080, 1081, 3128, 7890,  7891,  7892, 8080,
                                                        8118, 8888, 9050, 10808, 10809, 10080};

// The host's own addresses in both forms the listings use.
class LocalAddresses {
 public:
  explicit LocalAddresses(const std::set<std::string>& addresses) {
    for (const auto& a : addresses) {
      exact_.insert(to_lower(a));
      normalised_.insert(normalize_ip_text(a));
    }
  }
  bool is_own(std::string_view address) const {
    return exact_.count(to_lower(address)) > 0 || normalised_.count(normalize_ip_text(address)) > 0;
  }
  /// Loopback or one of the host's own addresses; remembered per text, since
  /// socket tables repeat the same few addresses.
  bool is_local(const std::string& address) const {
    auto it = memo_.find(address);
    if (it != memo_.end()) return it->second;
    bool local = is_loopback_host(normalize_ip_text(address)) || is_own(address);
    memo_.emplace(address, local);
    return local;
  }

 private:
  std::set<std::string, std::less<>> exact_;
  std::set<std::string, std::less<>> normalised_;
  mutable std::map<std::string, bool, std::less<>> memo_;
};

bool is_examined(const SocketEntry& l, const LocalAddresses& local) {
  return local.is_local(l.local_address) || is_unspecified_ip(l.local_address);
}

bool is_common_proxy_port(uint16_t port) {
  return std::find(kCommonProxyPorts.begin(), kCommonProxyPorts.end(), port) !=
         kCommonProxyPorts.end();
}

const ProcessInfo* find_process(const Facts& facts, const ProcessDetails& details, uint32_t pid) {
  if (auto it = details.find(pid); it != details.end()) return &it->second;
  if (auto it = facts.processes_by_pid.find(pid); it != facts.processes_by_pid.end())
    return &it->second;
  return nullptr;
}

void add_unique(std::vector<std::string>& list, const std::string& item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

std::string endpoint_key(const SocketEntry& l) {
  return fmt::format("{}|{}|{}", l.pid, l.local_address, l.local_port);
}

// Socket counts per owner, computed once for all listeners.
struct SocketCounts {
  std::map<uint32_t, uint32_t> remote_by_pid;
  std::map<std::pair<uint32_t, uint16_t>, uint32_t> local_clients_by_pid_port;
};

SocketCounts count_sockets(const std::vector<SocketEntry>& sockets, const LocalAddresses& local) {
  SocketCounts c;
  for (const auto& s : sockets) {
    if (s.state != kTcpEstablished) continue;
    if (local.is_local(s.remote_address)) {
      ++c.local_clients_by_pid_port[{s.pid, s.local_port}];
    } else if (s.pid != 0) {
      // Sockets without a known owner are not attributed to anyone.
      ++c.remote_by_pid[s.pid];
    }
  }
  return c;
}

struct IdentityFlags {
  bool known = false, generic = false, common_app = false;
};

IdentityFlags classify(const std::string& identity, std::string_view name) {
  const ProductPatterns& p = product_patterns();
  IdentityFlags f;
  f.known = p.known_identity.is_match(identity);
  // A proxy GUI is a known product but no proxy: its own ports (a
  // single-instance check, a dashboard) weigh as a generic identity.
  if (f.known && is_gui_front_end(name)) {
    f.known = false;
    f.generic = true;
  } else if (!f.known) {
    f.generic = p.generic_identity.is_match(identity);
    f.common_app = p.interactive_app.is_match(identity);
  }
  return f;
}

int64_t probe_priority(const ListenerCandidate& c) {
  int64_t priority = std::min<int64_t>(10 * int64_t{c.remote_established}, 420);
  priority += c.known_identity ? 4400 : c.generic_identity ? 2780 : 2600;
  if (!c.policy_reference) priority -= 2600;
  if (c.common_port) priority += 250;
  priority += std::min<int64_t>(180 * int64_t{c.live_local_clients}, 720);
  if (c.common_app) priority -= 1200;
  return priority;
}

// What one scoring rule reads: the listener's evidence and its probe verdicts.
struct Evidence {
  const ListenerCandidate& c;
  const ProbeVerdicts& v;
  bool eligible;
};

// One row of the score: when `holds`, `weight` is added and `reason` (a
// format text over verdict, sources, clients and remote) joins the signals.
struct ScoreRule {
  bool (*holds)(const Evidence&);
  double weight;
  const char* reason;
};

// Walked in order, so the signals read from the strongest evidence down.
constexpr ScoreRule kScoreRules[] = {
    {[](const Evidence& e) { return e.v.socks5; }, 8, "SOCKS5 negotiation"},
    {[](const Evidence& e) { return !e.v.connect.empty(); }, 7, "{verdict}"},
    {[](const Evidence& e) { return e.c.policy_reference; }, 5,
     "explicit proxy policy references listener ({sources})"},
    {[](const Evidence& e) { return e.c.known_identity; }, 4,
     "known proxy/tunnel process identity"},
    {[](const Evidence& e) { return e.c.generic_identity && !e.c.known_identity; }, 1,
     "generic proxy/vpn-like process identity (weak)"},
    {[](const Evidence& e) { return e.c.live_local_clients > 0; }, 3,
     "{clients} live local client connection(s)"},
    {[](const Evidence& e) { return e.c.common_port; }, 0.5, "common proxy port (weak)"},
    {[](const Evidence& e) { return e.c.remote_established > 0; }, 0,
     "{remote} remote established socket(s), ranking only"},
    {[](const Evidence& e) { return e.c.common_app; }, -2.5,
     "common interactive application negative prior"},
    // A known product or a policy entry keeps its weight even when both probes stay silent.
    {[](const Evidence& e) {
       return e.v.probed && !e.v.socks5 && e.v.connect.empty() && !e.c.policy_reference &&
              !e.c.known_identity;
     },
     -0.75, "active proxy protocol probe negative"},
    {[](const Evidence& e) { return !e.v.probed && e.eligible; }, 0,
     "protocol probe budget not reached"},
    {[](const Evidence& e) { return !e.eligible; }, 0,
     "active probe skipped by common-app negative prior"},
};

}  // namespace

std::vector<PolicyEndpoint> policy_endpoints(const ProxySettings& settings, const EnvLookup& env) {
  std::vector<ProxyEndpoint> found;
  // A system proxy that is switched off directs no traffic.
  if (settings.proxy_enabled && !trim_view(settings.proxy_server).empty())
    extract_proxy_endpoints(settings.proxy_server, system_proxy_source(settings), found);
  if (!trim_view(settings.winhttp_text).empty())
    extract_proxy_endpoints(settings.winhttp_text, "WinHTTP", found);
  if (env) {
    // curl, wget, apt and most Linux programs read the lower-case spellings;
    // both count, the upper-case one first.
    for (const char* upper : kProxyVariables)
      for (const std::string& name : {std::string(upper), to_lower(upper)})
        if (auto value = env(name.c_str())) extract_proxy_endpoints(*value, name, found);
  }
  std::vector<PolicyEndpoint> out;
  for (const auto& e : found) {
    std::string host = normalize_ip_text(e.host);
    auto it = std::find_if(out.begin(), out.end(), [&](const PolicyEndpoint& p) {
      return p.port == e.port && p.host == host;
    });
    if (it == out.end()) it = out.insert(out.end(), PolicyEndpoint{host, e.port, {}});
    add_unique(it->sources, e.source);
  }
  return out;
}

std::vector<uint32_t> listener_owner_pids(const Facts& facts) {
  LocalAddresses local(facts.local_addresses);
  std::vector<uint32_t> pids;
  for (const auto& l : facts.tcp_listeners)
    if (l.pid != 0 && is_examined(l, local)) pids.push_back(l.pid);
  std::sort(pids.begin(), pids.end());
  pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
  return pids;
}

std::vector<ListenerCandidate> rank_listeners(const Facts& facts, const ProcessDetails& details,
                                              const std::vector<PolicyEndpoint>& policies) {
  LocalAddresses local(facts.local_addresses);
  SocketCounts counts = count_sockets(facts.tcp_sockets, local);
  std::set<std::string> seen;
  std::map<uint32_t, IdentityFlags> flags_by_pid;  // a process often owns several listeners
  std::vector<ListenerCandidate> out;
  for (const auto& l : facts.tcp_listeners) {
    if (!is_examined(l, local) || !seen.insert(endpoint_key(l)).second) continue;
    ListenerCandidate c;
    c.host = l.local_address;
    c.port = l.local_port;
    c.pid = l.pid;
    if (const ProcessInfo* p = find_process(facts, details, l.pid)) {
      c.process_name = p->name;
      c.exe_path = p->exe_path;
      c.command_line = p->command_line;
    }
    auto known = flags_by_pid.find(c.pid);
    if (known == flags_by_pid.end())
      known = flags_by_pid
                  .emplace(c.pid, classify(process_identity(
                                               {c.pid, c.process_name, c.exe_path, c.command_line}),
                                           c.process_name))
                  .first;
    c.known_identity = known->second.known;
    c.generic_identity = known->second.generic;
    c.common_app = known->second.common_app;
    c.common_port = is_common_proxy_port(c.port);
    if (c.pid != 0) {
      if (auto it = counts.remote_by_pid.find(c.pid); it != counts.remote_by_pid.end())
        c.remote_established = it->second;
    }
    if (auto it = counts.local_clients_by_pid_port.find({c.pid, c.port});
        it != counts.local_clients_by_pid_port.end())
      c.live_local_clients = it->second;
    for (const auto& p : policies) {
      if (!listener_accepts(l, p.host, p.port, facts.local_addresses)) continue;
      c.policy_reference = true;
      for (const auto& s : p.sources) add_unique(c.policy_sources, s);
    }
    c.probe_priority = probe_priority(c);
    out.push_back(std::move(c));
  }
  std::stable_sort(
      out.begin(), out.end(), [](const ListenerCandidate& a, const ListenerCandidate& b) {
        return std::tuple(-a.probe_priority, -int64_t{a.live_local_clients},
                          -int64_t{a.remote_established}, a.pid,
                          a.port) < std::tuple(-b.probe_priority, -int64_t{b.live_local_clients},
                                               -int64_t{b.remote_established}, b.pid, b.port);
      });
  return out;
}

bool is_probe_eligible(const ListenerCandidate& c) {
  return !(c.common_app && !c.policy_reference && !c.known_identity && !c.common_port &&
           c.live_local_clients == 0);
}

std::vector<size_t> socks5_batch(const std::vector<ListenerCandidate>& ranked) {
  std::vector<size_t> batch;
  for (size_t i = 0; i < ranked.size() && batch.size() < kSocks5ProbeBudget; ++i)
    if (is_probe_eligible(ranked[i])) batch.push_back(i);
  return batch;
}

std::vector<size_t> connect_batch(const std::vector<ListenerCandidate>& ranked,
                                  const std::vector<ProbeVerdicts>& verdicts) {
  std::vector<size_t> batch;
  for (size_t i = 0; i < ranked.size() && batch.size() < kConnectProbeBudget; ++i) {
    const auto& c = ranked[i];
    bool worth = c.policy_reference || c.known_identity || c.generic_identity || c.common_port ||
                 c.live_local_clients > 0;
    if (is_probe_eligible(c) && !verdicts[i].socks5 && worth) batch.push_back(i);
  }
  return batch;
}

ProxyCandidateAssessment score_candidate(const ListenerCandidate& c, const ProbeVerdicts& v) {
  const Evidence e{c, v, is_probe_eligible(c)};
  const std::string sources = join(c.policy_sources, ", ");
  double total = 0;
  std::vector<std::string> phrases;
  for (const ScoreRule& rule : kScoreRules) {
    if (!rule.holds(e)) continue;
    total += rule.weight;
    phrases.push_back(fmt::format(
        fmt::runtime(rule.reason), fmt::arg("verdict", v.connect), fmt::arg("sources", sources),
        fmt::arg("clients", c.live_local_clients), fmt::arg("remote", c.remote_established)));
  }

  ProxyCandidateAssessment a;
  a.host = c.host;
  a.port = c.port;
  a.pid = c.pid;
  a.process_name = c.process_name;
  a.remote_established = c.remote_established;
  a.live_local_clients = c.live_local_clients;
  a.level = total >= 4   ? CandidateLevel::kCandidate
            : total >= 2 ? CandidateLevel::kInvestigate
                         : CandidateLevel::kInventory;
  a.score = round2(total);
  a.signals = join(phrases, " + ");
  a.common_app = c.common_app;
  a.is_candidate = a.level == CandidateLevel::kCandidate;
  a.protocol = v.socks5             ? ProxyProtocol::kSocks5
               : !v.connect.empty() ? ProxyProtocol::kHttpConnect
                                    : ProxyProtocol::kNone;
  a.connect_verdict = v.connect;
  a.probed = v.probed;
  a.eligible = e.eligible;
  return a;
}

ProxyCandidates score_candidates(const std::vector<ListenerCandidate>& ranked,
                                 const std::vector<ProbeVerdicts>& verdicts) {
  ProxyCandidates out;
  out.assessments.reserve(ranked.size());
  for (size_t i = 0; i < ranked.size(); ++i)
    out.assessments.push_back(score_candidate(ranked[i], verdicts[i]));
  std::stable_sort(out.assessments.begin(), out.assessments.end(),
                   [](const ProxyCandidateAssessment& a, const ProxyCandidateAssessment& b) {
                     return std::tie(a.pid, a.port, a.host) < std::tie(b.pid, b.port, b.host);
                   });
  for (const auto& a : out.assessments)
    if (a.is_candidate) out.candidates.push_back(a);
  return out;
}

std::vector<uint32_t> proxy_core_pids(const Facts& facts, const ProcessDetails& details) {
  std::vector<uint32_t> pids;
  for (const auto& p : facts.proxy_processes) pids.push_back(p.pid);
  for (const auto& a : facts.proxy_candidates.assessments)
    if (is_proxy_like(a.level)) pids.push_back(a.pid);
  std::sort(pids.begin(), pids.end());
  pids.erase(std::unique(pids.begin(), pids.end()), pids.end());

  std::vector<uint32_t> out;
  for (uint32_t pid : pids) {
    if (pid == 0) continue;
    const ProcessInfo* p = find_process(facts, details, pid);
    if (p == nullptr) {
      auto it = std::find_if(facts.proxy_processes.begin(), facts.proxy_processes.end(),
                             [&](const ProcessInfo& q) { return q.pid == pid; });
      if (it != facts.proxy_processes.end()) p = &*it;
    }
    if (p != nullptr && !is_gui_front_end(p->name) && is_proxy_core_identity(process_identity(*p)))
      out.push_back(pid);
  }
  return out;
}

}  // namespace corvale
