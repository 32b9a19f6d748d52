#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "probe/probe.h"
#include "probe/socket_io.h"

namespace corvale {
namespace {

constexpr size_t kDnsHeaderSize = 12;
constexpr size_t kReplyBufferSize = 2048;

uint16_t be16(std::string_view b, size_t p) {
  return static_cast<uint16_t>((static_cast<uint8_t>(b[p]) << 8) | static_cast<uint8_t>(b[p + 1]));
}

// Skips one (possibly compressed) name starting at `p`; the result may lie
// past the end of the reply, which every caller checks.
size_t skip_name(std::string_view reply, size_t p) {
  const size_t n = reply.size();
  while (p < n) {
    auto len = static_cast<uint8_t>(reply[p]);
    if (len == 0) return p + 1;
    if ((len & 0xC0) == 0xC0) return p + 2;
    p += size_t{len} + 1;
  }
  return n;
}

bool same_endpoint(const sockaddr_storage& a, const SocketAddress& b) {
  if (a.ss_family != b.family()) return false;
  if (a.ss_family == AF_INET) {
    const auto& x = reinterpret_cast<const sockaddr_in&>(a);
    const auto& y = reinterpret_cast<const sockaddr_in&>(b.storage);
    return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
  }
  if (a.ss_family == AF_INET6) {
    const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
    const auto& y = reinterpret_cast<const sockaddr_in6&>(b.storage);
    return x.sin6_port == y.sin6_port &&
           std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
  }
  return false;
}

}  // namespace

bool is_reply_to(std::string_view reply, std::string_view query, const sockaddr_storage& from,
                 const SocketAddress& resolver) {
  return reply.size() >= kDnsHeaderSize && query.size() >= 2 && reply[0] == query[0] &&
         reply[1] == query[1] && same_endpoint(from, resolver);
}

std::string build_dns_query(uint16_t id, std::string_view name) {
  std::string q;
  q.push_back(static_cast<char>(id >> 8));
  q.push_back(static_cast<char>(id & 0xFF));
  q.append({'\x01', '\x00'});  // recursion desired
  q.append({'\x00', '\x01'});  // one question
  q.append(6, '\0');           // no answer, authority, additional records
  size_t start = 0;
  while (start <= name.size()) {
    size_t dot = name.find('.', start);
    if (dot == std::string_view::npos) dot = name.size();
    // A label is at most 63 bytes; a longer length byte would read as a pointer.
    std::string_view label = name.substr(start, std::min<size_t>(dot - start, 63));
    if (!label.empty()) {
      q.push_back(static_cast<char>(label.size()));
      q.append(label);
    }
    start = dot + 1;
  }
  q.push_back('\0');
  q.append({'\x00', '\x01', '\x00', '\x01'});  // type A, class IN
  return q;
}

std::string parse_dns_answer(std::string_view reply) {
  const size_t n = reply.size();
  if (n < kDnsHeaderSize) return {};
  uint16_t answers = be16(reply, 6);
  size_t p = skip_name(reply, kDnsHeaderSize) + 4;
  for (uint16_t i = 0; i < answers; ++i) {
    if (p > n) break;
    p = skip_name(reply, p);
    if (p > n || n - p < 10) break;
    uint16_t type = be16(reply, p);
    uint16_t rdlength = be16(reply, p + 8);
    if (type == 1 && rdlength == 4 && n - (p + 10) >= 4) {
      const auto* d = reinterpret_cast<const uint8_t*>(reply.data() + p + 10);
      return std::to_string(d[0]) + "." + std::to_string(d[1]) + "." + std::to_string(d[2]) + "." +
             std::to_string(d[3]);
    }
    p += 10 + size_t{rdlength};
  }
  return {};
}

DnsProbeResult dns_probe(const std::string& resolver, uint64_t timeout_ms) {
  DnsProbeResult res;
  auto addr = resolve_first(resolver, 53);
  if (!addr) return res;
  const auto start = ProbeClock::now();
  const Deadline deadline = Deadline::after(timeout_ms);
  UniqueFd fd(::socket(addr->family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return res;
  sockaddr_storage local{};
  socklen_t local_len = 0;
  if (addr->family() == AF_INET6) {
    auto* s6 = reinterpret_cast<sockaddr_in6*>(&local);
    s6->sin6_family = AF_INET6;
    s6->sin6_addr = in6addr_any;
    local_len = sizeof(sockaddr_in6);
  } else {
    auto* s4 = reinterpret_cast<sockaddr_in*>(&local);
    s4->sin_family = AF_INET;
    s4->sin_addr.s_addr = htonl(INADDR_ANY);
    local_len = sizeof(sockaddr_in);
  }
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), local_len) != 0) return res;

  const std::string query =
      build_dns_query(static_cast<uint16_t>(::getpid() & 0xFFFF), kDnsProbeName);
  for (;;) {
    ssize_t n = ::sendto(fd.get(), query.data(), query.size(), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&addr->storage), addr->length);
    if (n == static_cast<ssize_t>(query.size())) break;
    if (n < 0 && errno == EINTR) continue;
    return res;
  }

  char buf[kReplyBufferSize];
  ssize_t got = -1;
  for (;;) {
    sockaddr_storage from{};
    socklen_t from_len = sizeof from;
    got = ::recvfrom(fd.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
    if (got >= 0) {
      // Anyone can send a datagram to our port: only the resolver's reply to
      // this query counts; anything else is dropped and the wait goes on.
      std::string_view reply(buf, static_cast<size_t>(got));
      if (is_reply_to(reply, query, from, *addr)) break;
      if (same_endpoint(from, *addr) && reply.size() < kDnsHeaderSize) return res;
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (wait_ready(fd.get(), POLLIN, deadline)) continue;
      return res;  // time-out
    }
    return res;
  }
  res.elapsed_ms = elapsed_ms_since(start);
  res.answer = parse_dns_answer(std::string_view(buf, static_cast<size_t>(got)));
  res.ok = !res.answer.empty();
  return res;
}

}  // namespace corvale
