// Active probes: every primitive is synchronous, owns its socket or child for
// the duration of the call and folds every failure into its result record.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facts/facts.h"
#include "facts/probe_targets.h"
#include "util/fd.h"

namespace corvale {

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family() const { return storage.ss_family; }
};

/// ping / ping -6 (ping6 as fallback), one echo, 2 s wait. A host that could
/// be read as an option (leading '-') is never passed to ping.
PingResult ping_probe(const std::string& host);
/// rtt from ping's standard output ("time=12.5 ms" -> 13, "time<1 ms" -> 1).
int64_t parse_ping_rtt(std::string_view output);

/// Whether a datagram received from `from` answers `query` sent to
/// `resolver`: same address and port, same transaction id, a whole header.
bool is_reply_to(std::string_view reply, std::string_view query, const sockaddr_storage& from,
                 const SocketAddress& resolver);
/// One A query for kDnsProbeName to `resolver` over UDP port 53.
DnsProbeResult dns_probe(const std::string& resolver, uint64_t timeout_ms);
/// The first IPv4 address of the answer section of a DNS reply; empty when none.
std::string parse_dns_answer(std::string_view reply);
/// The query datagram sent by dns_probe.
std::string build_dns_query(uint16_t id, std::string_view name);

/// An address literal (brackets stripped, zone kept) or the system resolver's
/// first answer of either family.
std::optional<SocketAddress> resolve_first(std::string_view host, uint16_t port);

struct ConnectResult {
  UniqueFd fd;        // valid when connected
  std::string error;  // why not, when not
  bool ok() const { return fd.valid(); }
};
/// Non-blocking connect finished within `timeout_ms` (0 is an error); the
/// returned stream stays non-blocking.
ConnectResult tcp_connect(std::string_view host, uint16_t port, uint64_t timeout_ms);

using HeaderList = std::vector<std::pair<std::string, std::string>>;
/// HTTP/1.0 GET following up to five plain-HTTP redirects; the whole exchange
/// of each request (connect, send, every read) is bounded by `timeout_ms`.
HttpResult http_get(const std::string& host, uint16_t port, const std::string& path,
                    const HeaderList& extra_headers, uint64_t timeout_ms);
/// Text between <title> and </title> (tags matched case-insensitively), trimmed.
std::string html_title(std::string_view body);

/// Replies are cut at this size.
inline constexpr size_t kHttpReplyLimit = 4 * 1024 * 1024;

struct HttpTarget {
  std::string host;  // without brackets
  uint16_t port = 80;
  std::string path = "/";
  bool operator==(const HttpTarget&) const = default;
};

struct HttpReply {
  std::string head;
  std::string body;
  uint16_t status = 0;  // 0 when the head has no readable status line
  std::optional<std::string> location;
};
/// Splits a raw reply at the first blank line and reads its status and Location.
HttpReply parse_http_reply(std::string_view raw);
/// Where a Location leads from `current`; nothing when the chain ends with
/// this response (https, scheme-relative, other schemes, unsendable text).
std::optional<HttpTarget> redirect_target(const HttpTarget& current, std::string_view location);
/// The GET request sent for `target`.
std::string build_http_request(const HttpTarget& target, const HeaderList& extra_headers);

/// Where a listener on `host` is probed: loopback hosts as they are, anything
/// else (wildcards included) at 127.0.0.1, or ::1 for IPv6 hosts.
std::string probe_target_host(const std::string& host);
/// SOCKS5 greeting (05 01 00) with 140 ms time-outs; true when the reply starts with 05.
bool socks5_probe(const std::string& host, uint16_t port);
/// HTTP CONNECT to 127.0.0.1:9 with 180 ms time-outs; the verdict text or empty.
std::string connect_probe(const std::string& host, uint16_t port);
/// The verdict for a raw CONNECT reply.
std::string connect_verdict(std::string_view reply);

}  // namespace corvale
