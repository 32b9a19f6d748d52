// IP address parsing and the normalised text form used to compare addresses.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvale {

struct IpAddress {
  int family = 4;                        // 4 or 6
  std::array<std::uint8_t, 16> bytes{};  // IPv4 uses the first four

  bool is_v4() const { return family == 4; }
  /// Canonical text: dotted IPv4, compressed lower-case IPv6.
  std::string to_string() const;
  bool is_v4_mapped() const;
  bool operator==(const IpAddress&) const = default;
};

/// Trims, drops surrounding brackets and any zone suffix, then parses.
std::optional<IpAddress> parse_ip(std::string_view text);

/// Canonical text of an address, the dotted form of an IPv4-mapped IPv6
/// address, or the lower-cased input when it is not an address.
std::string normalize_ip_text(std::string_view text);

/// "localhost", 127.0.0.0/8 or ::1.
bool is_loopback_host(std::string_view host);

/// 0.0.0.0 or ::
bool is_unspecified_ip(std::string_view text);

}  // namespace corvale
