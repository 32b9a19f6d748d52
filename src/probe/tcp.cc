#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "probe/probe.h"
#include "probe/socket_io.h"
#include "util/ip.h"

namespace corvale {
namespace {

std::string_view strip_brackets(std::string_view host) {
  while (!host.empty() && (host.front() == '[' || host.front() == ']')) host.remove_prefix(1);
  while (!host.empty() && (host.back() == '[' || host.back() == ']')) host.remove_suffix(1);
  return host;
}

std::optional<SocketAddress> first_address(const std::string& host, uint16_t port, int flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list)
    return std::nullopt;
  std::optional<SocketAddress> out;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) ||
        ai->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    SocketAddress a;
    std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
    a.length = static_cast<socklen_t>(ai->ai_addrlen);
    out = a;
    break;
  }
  ::freeaddrinfo(list);
  return out;
}

SocketAddress from_ip(const IpAddress& ip, uint16_t port) {
  SocketAddress a;
  if (ip.is_v4()) {
    auto* sin = reinterpret_cast<sockaddr_in*>(&a.storage);
    sin->sin_family = AF_INET;
    sin->sin_port = htons(port);
    std::memcpy(&sin->sin_addr, ip.bytes.data(), 4);
    a.length = sizeof(sockaddr_in);
  } else {
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
    sin6->sin6_family = AF_INET6;
    sin6->sin6_port = htons(port);
    std::memcpy(&sin6->sin6_addr, ip.bytes.data(), 16);
    a.length = sizeof(sockaddr_in6);
  }
  return a;
}

}  // namespace

std::optional<SocketAddress> resolve_first(std::string_view host, uint16_t port) {
  std::string h(strip_brackets(host));
  if (h.empty()) return std::nullopt;
  if (auto ip = parse_ip(h)) {
    // A numeric lookup keeps the zone of a link-local address ("fe80::1%eth0"),
    // which parse_ip drops.
    if (h.find('%') != std::string::npos)
      if (auto a = first_address(h, port, AI_NUMERICHOST)) return a;
    return from_ip(*ip, port);
  }
  return first_address(h, port, 0);
}

ConnectResult tcp_connect(std::string_view host, uint16_t port, uint64_t timeout_ms) {
  ConnectResult res;
  auto addr = resolve_first(host, port);
  if (!addr) {
    res.error = "resolve failed";
    return res;
  }
  if (timeout_ms == 0) {
    res.error = "zero time-out";
    return res;
  }
  return connect_before(*addr, Deadline::after(timeout_ms));
}

}  // namespace corvale
