#include "probe/probe.h"
#include "probe/socket_io.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

constexpr uint64_t kSocks5TimeoutMs = 140;
constexpr uint64_t kConnectTimeoutMs = 180;
constexpr size_t kConnectReplyCap = 768;

// Second white-space-separated token of a status line, or empty.
std::string_view second_token(std::string_view line) {
  auto tokens = split_ws(line);
  return tokens.size() >= 2 ? tokens[1] : std::string_view{};
}

}  // namespace

std::string probe_target_host(const std::string& host) {
  if (is_loopback_host(host)) return host;
  return host.find(':') != std::string::npos ? "::1" : "127.0.0.1";
}

bool socks5_probe(const std::string& host, uint16_t port) {
  ConnectResult conn = tcp_connect(probe_target_host(host), port, kSocks5TimeoutMs);
  if (!conn.ok()) return false;
  static constexpr char kGreeting[] = {'\x05', '\x01', '\x00'};
  if (!send_all(conn.fd.get(), std::string_view(kGreeting, sizeof kGreeting),
                Deadline::after(kSocks5TimeoutMs)))
    return false;
  std::string reply;
  const Deadline deadline = Deadline::after(kSocks5TimeoutMs);
  while (reply.size() < 2)
    if (read_some(conn.fd.get(), reply, 2 - reply.size(), deadline) != ReadStatus::kData)
      return false;
  return reply[0] == '\x05';
}

std::string connect_verdict(std::string_view reply) {
  std::string text = to_lower(decode_utf8_lossy(reply));
  auto lines = split_lines(text);
  for (std::string_view line : lines) {
    line = trim_view(line);
    if (line.starts_with("http/") && second_token(line) == "407") return "HTTP CONNECT / 407";
    if (line.starts_with("proxy-agent:")) return "HTTP CONNECT / Proxy-Agent";
  }
  for (std::string_view line : lines) {
    line = trim_view(line);
    if (line.starts_with("http/") && second_token(line) == "200")
      return text.find("connect") != std::string::npos ? "HTTP CONNECT / established" : "";
  }
  return {};
}

std::string connect_probe(const std::string& host, uint16_t port) {
  ConnectResult conn = tcp_connect(probe_target_host(host), port, kConnectTimeoutMs);
  if (!conn.ok()) return {};
  // The target is the discard port of loopback, so even a real proxy moves no data.
  static constexpr std::string_view kRequest =
      "CONNECT 127.0.0.1:9 HTTP/1.1\r\nHost: 127.0.0.1:9\r\nProxy-Connection: close\r\n\r\n";
  if (!send_all(conn.fd.get(), kRequest, Deadline::after(kConnectTimeoutMs))) return {};
  std::string reply;
  if (read_some(conn.fd.get(), reply, kConnectReplyCap, Deadline::after(kConnectTimeoutMs)) !=
      ReadStatus::kData)
    return {};
  return connect_verdict(reply);
}

}  // namespace corvale
