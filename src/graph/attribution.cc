#include "graph/attribution.h"

#include <algorithm>
#include <map>

#include "facts/proxy_candidates.h"
#include "util/regex.h"
#include "util/text.h"

namespace corvale {

namespace {

// The TUN device the running core reports, else the one named in its own
// `tun:` block, block or flow style.
std::optional<std::string> tun_device(const CoreControllerInfo& core) {
  if (core.runtime_tun_device) return core.runtime_tun_device;
  bool in_tun = false;
  const Regex& device = static_regex(R"(device:\s*["']?([^,"'}\s]+))");
  for (const std::string& line : core.config_lines) {
    std::string_view t = trim_view(line);
    bool top_level = !line.empty() && line[0] != ' ' && line[0] != '\t';
    if (top_level) in_tun = t.starts_with("tun:");
    if (!in_tun) continue;
    if (auto m = device.find(t)) return std::string(m->str(1));
  }
  return std::nullopt;
}

// The absolute program path the process was started as. For a program run
// through an interpreter or a wrapper, /proc's exe link names the interpreter
// while a controller reports the application's own path.
std::string_view launch_path(const ProcessInfo& p) {
  std::string_view cmd = p.command_line;
  std::string_view first = cmd.substr(0, cmd.find(' '));
  return first.starts_with('/') ? first : std::string_view{};
}

const CoreControllerInfo* core_of(const Facts& facts, uint32_t pid) {
  for (const auto& c : facts.core_infos)
    if (c.pid == pid) return &c;
  return nullptr;
}

bool owns_protocol_listener(const Facts& facts, uint32_t pid) {
  return std::any_of(facts.proxy_candidates.assessments.begin(),
                     facts.proxy_candidates.assessments.end(),
                     [&](const ProxyCandidateAssessment& a) {
                       return a.pid == pid && a.protocol != ProxyProtocol::kNone;
                     });
}

bool has_remote_socket(const Facts& facts, uint32_t pid) {
  return std::any_of(
      facts.proxy_candidates.assessments.begin(), facts.proxy_candidates.assessments.end(),
      [&](const ProxyCandidateAssessment& a) { return a.pid == pid && a.remote_established > 0; });
}

}  // namespace

// Identity score of an owner candidate, 0..100:
//   100  the core's own configuration names this tunnel as its TUN device
//        (an adapter/process identity match);
//   otherwise the sum of
//    40  the name is a known proxy-core / tunnel-client product,
//    30  its runtime controller answered,
//    20  it owns a listener that answered SOCKS5 or HTTP CONNECT,
//    10  its configuration enables a TUN stack.
// "Unique active core": the only candidate whose controller answered, or,
// when no controller answered, the only one with an established remote socket.
// Display order: confidence, then identity score (both descending), then PID.
std::vector<OwnerCandidate> tunnel_owner_candidates(const Facts& facts, uint32_t tunnel_if_index) {
  std::string tunnel_name;
  for (const auto& a : facts.adapters)
    if (a.if_index == tunnel_if_index) tunnel_name = a.name;

  std::vector<OwnerCandidate> out;
  for (uint32_t pid : proxy_core_pids(facts, facts.processes_by_pid)) {
    OwnerCandidate c;
    auto it = facts.processes_by_pid.find(pid);
    if (it != facts.processes_by_pid.end()) c.process = it->second;
    c.process.pid = pid;
    const CoreControllerInfo* core = core_of(facts, pid);
    c.protocol_listener = owns_protocol_listener(facts, pid);
    auto device = core ? tun_device(*core) : std::nullopt;
    if (device && !tunnel_name.empty() && *device == tunnel_name) {
      c.identity_score = 100;
    } else {
      if (is_capture_process(c.process.name)) c.identity_score += 40;
      if (core && core->selected_controller) c.identity_score += 30;
      if (c.protocol_listener) c.identity_score += 20;
      if (core && core->tun_stack) c.identity_score += 10;
    }
    out.push_back(std::move(c));
  }

  auto answered = [&](const OwnerCandidate& c) {
    const CoreControllerInfo* core = core_of(facts, c.process.pid);
    return core && core->selected_controller.has_value();
  };
  auto mark_unique = [&](auto pred) {
    if (std::count_if(out.begin(), out.end(), pred) != 1) return false;
    std::find_if(out.begin(), out.end(), pred)->unique_active = true;
    return true;
  };
  if (!std::any_of(out.begin(), out.end(), answered))
    mark_unique([&](const OwnerCandidate& c) { return has_remote_socket(facts, c.process.pid); });
  else
    mark_unique(answered);

  for (auto& c : out) score_owner(c, out.size());
  std::stable_sort(out.begin(), out.end(), [](const OwnerCandidate& a, const OwnerCandidate& b) {
    if (a.confidence != b.confidence) return a.confidence > b.confidence;
    if (a.identity_score != b.identity_score) return a.identity_score > b.identity_score;
    return a.process.pid < b.process.pid;
  });
  return out;
}

void score_owner(OwnerCandidate& c, size_t candidate_count) {
  if (c.identity_score > 99) {
    c.confidence = 0.9;
    c.reason = "adapter/process identity match";
    return;
  }
  if (candidate_count <= 1)
    c.confidence = c.identity_score > 29 ? 0.72 : 0.45;
  else
    c.confidence = 0.35;
  // The kernel does not say which process owns a tunnel device; the texts
  // name this platform rather than another desktop's.
  if (c.protocol_listener)
    c.reason = "local proxy protocol listener owner; TUN ownership not exposed by the kernel";
  else if (c.unique_active)
    c.reason = "unique active proxy core/API candidate";
  else
    c.reason = "proxy-core candidate; TUN owner not exposed by the kernel";
}

std::optional<CaptureMatch> match_runtime_process(const RuntimeProcess& runtime,
                                                  const ProcessInfo& local) {
  // The core reads the path from the kernel, as /proc's exe link does; the
  // command line's program is the process's own claim, which any program can set.
  if (!runtime.process_path.empty() && runtime.process_path == local.exe_path)
    return CaptureMatch{0.99, "runtime API exact process path"};
  std::string_view runtime_file = file_name(runtime.process_path);
  if (!runtime_file.empty() && !local.exe_path.empty() && runtime_file == file_name(local.exe_path))
    return CaptureMatch{0.92, "runtime API executable basename"};
  if (!runtime.process_path.empty() && runtime.process_path == launch_path(local))
    return CaptureMatch{0.88, "runtime API path of the command line's program (its own claim)"};
  if (!runtime.process_name.empty() && !local.name.empty() &&
      (runtime.process_name == local.name || runtime.process_name == local.name + ".exe"))
    return CaptureMatch{0.86, "runtime API process name"};
  return std::nullopt;
}

std::vector<CapturedProcess> captured_processes(const CoreControllerInfo& core,
                                                const Facts& facts) {
  // Owners of local source ports, to tell apart processes with one executable.
  std::map<uint16_t, uint32_t> port_owner;
  for (const auto& s : facts.tcp_sockets)
    if (s.pid != 0) port_owner.try_emplace(s.local_port, s.pid);

  std::vector<CapturedProcess> out;
  std::map<uint32_t, size_t> by_pid;
  for (const CoreConnection& conn : core.connections) {
    auto runtime = runtime_process_of(conn);
    if (!runtime) continue;
    // The strongest rule over every local process; among equals the owner
    // of the connection's source port, else the lowest PID.
    const ProcessInfo* best = nullptr;
    CaptureMatch best_match;
    auto owner = port_owner.find(runtime->source_port);
    for (const auto& [pid, p] : facts.processes_by_pid) {
      auto m = match_runtime_process(*runtime, p);
      if (!m) continue;
      bool better = !best || m->confidence > best_match.confidence ||
                    (m->confidence == best_match.confidence && owner != port_owner.end() &&
                     owner->second == pid && best->pid != pid);
      if (better) {
        best = &p;
        best_match = *m;
      }
    }
    if (!best) continue;
    std::string flow = decode_utf8_lossy(connection_summary(conn));
    auto [slot, inserted] = by_pid.try_emplace(best->pid, out.size());
    if (inserted)
      out.push_back(CapturedProcess{*best, {}, best_match.confidence, best_match.reason});
    CapturedProcess& cp = out[slot->second];
    // One connection through the tunnel makes it a capture; explicit use
    // only when every known inbound was a proxy port.
    CoreInbound inbound = inbound_kind(conn.inbound_type);
    if (cp.inbound == CoreInbound::kUnknown || inbound == CoreInbound::kTunnel)
      cp.inbound = inbound == CoreInbound::kUnknown ? cp.inbound : inbound;
    cp.flows.push_back(std::move(flow));
    if (best_match.confidence > cp.confidence) {
      cp.confidence = best_match.confidence;
      cp.reason = best_match.reason;
    }
  }
  return out;
}

}  // namespace corvale
