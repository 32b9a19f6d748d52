#include "util/ip.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "util/text.h"

namespace corvale {
namespace {

// Steps shared by parse_ip and normalize_ip_text: trim, unbracket, drop zone.
std::string_view strip_address(std::string_view text) {
  std::string_view s = trim_view(text);
  if (s.size() > 1 && s.front() == '[' && s.back() == ']') s = s.substr(1, s.size() - 2);
  if (auto pct = s.find('%'); pct != std::string_view::npos) s = s.substr(0, pct);
  return s;
}

}  // namespace

std::string IpAddress::to_string() const {
  char buf[INET6_ADDRSTRLEN] = {};
  inet_ntop(is_v4() ? AF_INET : AF_INET6, bytes.data(), buf, sizeof buf);
  return buf;
}

bool IpAddress::is_v4_mapped() const {
  if (family != 6) return false;
  for (int i = 0; i < 10; ++i)
    if (bytes[i] != 0) return false;
  return bytes[10] == 0xFF && bytes[11] == 0xFF;
}

std::optional<IpAddress> parse_ip(std::string_view text) {
  std::string s(strip_address(text));
  if (s.empty() || s.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  IpAddress a;
  if (s.find(':') == std::string::npos) {
    if (inet_pton(AF_INET, s.c_str(), a.bytes.data()) == 1) {
      a.family = 4;
      return a;
    }
    return std::nullopt;
  }
  if (inet_pton(AF_INET6, s.c_str(), a.bytes.data()) == 1) {
    a.family = 6;
    return a;
  }
  return std::nullopt;
}

std::string normalize_ip_text(std::string_view text) {
  if (text.empty()) return {};
  std::string_view s = strip_address(text);
  auto ip = parse_ip(s);
  if (!ip) return to_lower(s);
  if (ip->is_v4_mapped()) {
    IpAddress v4;
    v4.family = 4;
    std::copy(ip->bytes.begin() + 12, ip->bytes.end(), v4.bytes.begin());
    return v4.to_string();
  }
  return ip->to_string();
}

bool is_loopback_host(std::string_view host) {
  if (host.empty()) return false;
  if (host == "localhost") return true;
  auto ip = parse_ip(host);
  if (!ip) return false;
  if (ip->is_v4()) return ip->bytes[0] == 127;
  IpAddress one;
  one.family = 6;
  one.bytes[15] = 1;
  return *ip == one;
}

bool is_unspecified_ip(std::string_view text) {
  std::string n = normalize_ip_text(text);
  return n == "0.0.0.0" || n == "::";
}

}  // namespace corvale
