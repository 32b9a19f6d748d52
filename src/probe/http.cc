#include <netinet/in.h>

#include <algorithm>
#include <cctype>

#include "probe/probe.h"
#include "probe/socket_io.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

constexpr size_t kReadChunk = 8192;
constexpr int kMaxRequests = 5;

bool starts_with_ci(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && to_lower(s.substr(0, prefix.size())) == prefix;
}

bool is_redirect(uint16_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A Location that would need escaping to be sent on a request line (control
// bytes, spaces) is not followed: sending it raw would let the server inject
// header lines into our next request.
bool safe_for_request_line(std::string_view s) {
  return std::none_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
  });
}

// "scheme:" at the start: an absolute reference of some other scheme.
bool has_scheme(std::string_view s) {
  if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s) {
    if (c == ':') return true;
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
      return false;
  }
  return false;
}

std::optional<HttpTarget> absolute_http_target(std::string_view rest) {
  size_t end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, end);
  std::string_view tail = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
  tail = tail.substr(0, tail.find('#'));
  std::string path(tail.starts_with('/') ? "" : "/");
  path += tail;
  if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);

  HttpTarget t;
  t.path = std::move(path);
  std::string_view port_text;
  bool has_port = false;
  if (!authority.empty() && authority.front() == '[') {
    // An IPv6 literal: its own colons must not be taken for the port separator.
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    t.host = std::string(authority.substr(1, close - 1));
    std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after.front() == ':') {
      has_port = true;
      port_text = after.substr(1);
    }
  } else if (size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    t.host = std::string(authority.substr(0, colon));
    has_port = true;
    port_text = authority.substr(colon + 1);
  } else {
    t.host = std::string(authority);
  }
  t.host.erase(
      std::remove_if(t.host.begin(), t.host.end(), [](char c) { return c == '[' || c == ']'; }),
      t.host.end());
  if (t.host.empty()) return std::nullopt;
  t.port = 80;
  if (has_port)
    if (auto p = parse_uint<uint16_t>(port_text); p && *p != 0) t.port = *p;
  return t;
}

}  // namespace

HttpReply parse_http_reply(std::string_view raw) {
  HttpReply r;
  size_t sep = raw.find("\r\n\r\n");
  if (sep == std::string_view::npos) {
    r.head = decode_utf8_lossy(raw);
  } else {
    r.head = decode_utf8_lossy(raw.substr(0, sep));
    r.body = decode_utf8_lossy(raw.substr(sep + 4));
  }
  bool status_seen = false;
  for (std::string_view line : split_lines(r.head)) {
    line = trim_view(line);
    if (!status_seen && starts_with_ci(line, "http/")) {
      status_seen = true;
      auto tokens = split_ws(line);
      if (tokens.size() >= 2) r.status = parse_uint<uint16_t>(tokens[1]).value_or(0);
    } else if (!r.location && starts_with_ci(line, "location:")) {
      r.location = trim(line.substr(line.find(':') + 1));
    }
  }
  return r;
}

std::optional<HttpTarget> redirect_target(const HttpTarget& current, std::string_view location) {
  if (location.empty() || !safe_for_request_line(location)) return std::nullopt;
  if (starts_with_ci(location, "http://")) return absolute_http_target(location.substr(7));
  // https and scheme-relative targets need TLS or a scheme we do not speak:
  // the redirect itself is the answer.
  if (location.substr(0, 2) == "//" || has_scheme(location)) return std::nullopt;
  HttpTarget next = current;
  if (location.front() == '/') {
    next.path = std::string(location.substr(0, location.find('#')));
  } else {
    std::string_view base = current.path;
    base = base.substr(0, base.find_first_of("?#"));
    size_t slash = base.rfind('/');
    next.path = slash == std::string_view::npos ? "/" : std::string(base.substr(0, slash + 1));
    next.path += location.substr(0, location.find('#'));
  }
  return next;
}

std::string build_http_request(const HttpTarget& target, const HeaderList& extra_headers) {
  std::string req =
      "GET " + (target.path.empty() ? std::string("/") : target.path) + " HTTP/1.0\r\n";
  // An IPv6 literal is bracketed in Host so that its colons are not read as a port.
  bool v6 = target.host.find(':') != std::string::npos;
  req += "Host: " + (v6 ? "[" + target.host + "]" : target.host) + "\r\n";
  req += "Connection: close\r\nAccept: */*\r\n";
  for (const auto& [name, value] : extra_headers) {
    // A line break inside a header (say, from a configuration file) would
    // start a header of its own; such a header is left out.
    if (name.find_first_of("\r\n") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos)
      continue;
    req += name + ": " + value + "\r\n";
  }
  req += "\r\n";
  return req;
}

namespace {

SocketAddress with_port(SocketAddress a, uint16_t port) {
  if (a.family() == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(&a.storage)->sin6_port = htons(port);
  else
    reinterpret_cast<sockaddr_in*>(&a.storage)->sin_port = htons(port);
  return a;
}

bool is_address_literal(std::string_view host) {
  while (!host.empty() && (host.front() == '[' || host.back() == ']'))
    host = host.front() == '[' ? host.substr(1) : host.substr(0, host.size() - 1);
  return parse_ip(host).has_value();
}

}  // namespace

HttpResult http_get(const std::string& host, uint16_t port, const std::string& path,
                    const HeaderList& extra_headers, uint64_t timeout_ms) {
  if (timeout_ms == 0) return std::nullopt;
  HttpTarget target{host, port, path.empty() ? "/" : path};
  // The caller's host is looked up once. A redirect is followed to an address
  // literal or back to that host, never to another name: the system resolver
  // cannot be bounded by the deadline, and a redirect is the server's choice.
  const std::optional<SocketAddress> origin = resolve_first(host, port);
  if (!origin) return std::nullopt;
  // One deadline for the whole chain, covering connect, send and every read:
  // neither a trickling peer nor a run of redirects stretches the probe past
  // its time-out.
  const Deadline deadline = Deadline::after(timeout_ms);
  uint64_t total_ms = 0;
  for (int request = 0; request < kMaxRequests; ++request) {
    const auto start = ProbeClock::now();
    std::optional<SocketAddress> addr = request == 0 || to_lower(target.host) == to_lower(host)
                                            ? with_port(*origin, target.port)
                                            : resolve_first(target.host, target.port);
    if (!addr) return std::nullopt;
    ConnectResult conn = connect_before(*addr, deadline);
    if (!conn.ok()) return std::nullopt;
    if (!send_all(conn.fd.get(), build_http_request(target, extra_headers), deadline))
      return std::nullopt;

    std::string raw;
    while (raw.size() < kHttpReplyLimit) {
      size_t cap = std::min(kReadChunk, kHttpReplyLimit - raw.size());
      if (read_some(conn.fd.get(), raw, cap, deadline) != ReadStatus::kData) break;
    }
    conn.fd.reset();
    total_ms += elapsed_ms_since(start);

    HttpReply reply = parse_http_reply(raw);
    if (is_redirect(reply.status) && reply.location) {
      auto next = redirect_target(target, *reply.location);
      if (next && (is_address_literal(next->host) || to_lower(next->host) == to_lower(host))) {
        target = std::move(*next);
        continue;
      }
    }
    return HttpResponse{std::move(reply.body), total_ms, reply.status};
  }
  return std::nullopt;
}

std::string html_title(std::string_view body) {
  std::string lower = to_lower(body);
  size_t open = lower.find("<title>");
  if (open == std::string::npos) return {};
  size_t from = open + 7;
  size_t close = lower.find("</title>", from);
  if (close == std::string::npos) return {};
  return trim(body.substr(from, close - from));
}

}  // namespace corvale
