#include "linux/sockets.h"

#include <chrono>
#include <functional>
#include <thread>
#include <tuple>
#include <unordered_set>

#include "linux/table_command.h"
#include "util/regex.h"
#include "util/text.h"

namespace corvale {
namespace {

struct EntryHash {
  size_t operator()(const SocketEntry& e) const {
    size_t h = std::hash<std::string>{}(e.local_address);
    auto mix = [&h](size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mix(std::hash<std::string>{}(e.remote_address));
    mix(e.local_port);
    mix(e.remote_port);
    mix(e.state);
    mix(e.pid);
    return h;
  }
};

// Drops "[...]" around an IPv6 host, with or without a "%zone" after the
// bracket, then any zone suffix left inside.
std::string_view strip_host(std::string_view host) {
  if (host.size() > 1 && host.front() == '[') {
    auto close = host.find(']');
    if (close != std::string_view::npos) {
      auto after = host.substr(close + 1);
      if (after.empty() || after.front() == '%') host = host.substr(1, close - 1);
    }
  }
  return host.substr(0, host.find('%'));
}

// ss shows owners as ("name",pid=N,fd=M) with the name cut at the first ')'
// and not escaped, so a process can name itself `x",pid=1` to claim another
// owner. A real owner is the first pid=N followed by ",fd=M)", which a name
// cannot produce; lines not in that form fall back to the first "pid=N".
uint32_t owner_pid(std::string_view line) {
  const Regex& strict = static_regex("pid=(\\d+),fd=\\d+\\)");
  const Regex& loose = static_regex("pid=(\\d+)");
  auto m = strict.find(line);
  if (!m) m = loose.find(line);
  if (!m) return 0;
  return parse_uint<uint32_t>(m->str(1)).value_or(0);
}

}  // namespace

uint8_t tcp_state_code(std::string_view s) {
  struct Row {
    std::string_view text;
    uint8_t code;
  };
  static constexpr Row kStates[] = {
      {"LISTEN", 2},     {"ESTAB", 5},     {"ESTABLISHED", 5}, {"TIME-WAIT", 6},
      {"CLOSE-WAIT", 8}, {"SYN-SENT", 3},  {"SYN-RECV", 4},    {"FIN-WAIT-1", 7},
      {"FIN-WAIT-2", 9}, {"LAST-ACK", 10}, {"CLOSING", 11},    {"CLOSE", 1},
  };
  for (const auto& r : kStates)
    if (r.text == s) return r.code;
  return 0;
}

std::pair<std::string, uint16_t> parse_endpoint(std::string_view field) {
  auto token = trim_view(field);
  std::string_view host = token, port_text;
  if (auto colon = token.rfind(':'); colon != std::string_view::npos) {
    host = token.substr(0, colon);
    port_text = token.substr(colon + 1);
  }
  uint16_t port = parse_uint<uint16_t>(port_text).value_or(0);
  host = strip_host(trim_view(host));
  if (host.empty() || host == "*") return {"0.0.0.0", port};
  return {std::string(host), port};
}

std::vector<SocketEntry> parse_ss_output(std::string_view text, bool tcp) {
  std::vector<SocketEntry> out;
  for (auto raw : split_lines(text)) {
    auto line = trim_view(raw);
    if (line.empty()) continue;
    auto fields = split_ws(line);
    if (fields.size() < 5) continue;
    SocketEntry e;
    e.pid = owner_pid(line);
    std::tie(e.local_address, e.local_port) = parse_endpoint(fields[3]);
    // "*" is a socket on :: that also takes IPv4; [::] is one that is IPv6-only.
    e.dual_stack = trim_view(fields[3]).starts_with("*:");
    if (tcp) {
      std::tie(e.remote_address, e.remote_port) = parse_endpoint(fields[4]);
      e.state = tcp_state_code(fields[0]);
    }
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<SocketEntry> merge_socket_samples(
    const std::vector<std::vector<SocketEntry>>& samples) {
  std::vector<SocketEntry> out;
  std::unordered_set<SocketEntry, EntryHash> seen;
  for (const auto& sample : samples)
    for (const auto& e : sample)
      if (seen.insert(e).second) out.push_back(e);
  return out;
}

std::vector<SocketEntry> listening_entries(const std::vector<SocketEntry>& sockets) {
  std::vector<SocketEntry> out;
  for (const auto& e : sockets)
    if (e.state == kTcpListen) out.push_back(e);
  return out;
}

TcpSockets collect_tcp_sockets() {
  constexpr int kSamples = 3;
  constexpr auto kPause = std::chrono::milliseconds(180);
  std::vector<std::vector<SocketEntry>> samples;
  for (int i = 0; i < kSamples; ++i) {
    if (i > 0) std::this_thread::sleep_for(kPause);
    samples.push_back(parse_ss_output(table_command_output("ss", {"-H", "-tanp"}), true));
  }
  TcpSockets r;
  r.tcp_sockets = merge_socket_samples(samples);
  r.tcp_listeners = listening_entries(r.tcp_sockets);
  return r;
}

std::vector<SocketEntry> collect_udp_sockets() {
  return parse_ss_output(table_command_output("ss", {"-H", "-uanp"}), false);
}

}  // namespace corvale
