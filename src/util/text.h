// Small text helpers shared by every module.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvale {

std::string_view trim_view(std::string_view s);
std::string trim(std::string_view s);
std::string to_lower(std::string_view s);
std::string to_upper(std::string_view s);

/// Splits on runs of ASCII white space; no empty fields.
std::vector<std::string_view> split_ws(std::string_view s);
/// Splits at '\n'; a trailing '\r' stays on the line (callers trim).
std::vector<std::string_view> split_lines(std::string_view s);
/// Splits at every occurrence of `sep`, keeping empty fields.
std::vector<std::string_view> split(std::string_view s, char sep);

std::string join(const std::vector<std::string>& parts, std::string_view sep);

/// Decodes bytes as UTF-8, replacing every invalid sequence with U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);
bool is_valid_utf8(std::string_view bytes);

/// Untrusted text (process names, paths, network replies) made safe to print
/// on a terminal: every C0 control, DEL, C1 control, Unicode bidirectional
/// control and line separator is written visibly as "\x1b" or "\u202e", and
/// invalid UTF-8 bytes as "\xff"; everything else is copied unchanged.
std::string terminal_safe(std::string_view text);

/// Value times 100, rounded half away from zero, divided by 100.
double round2(double v);

/// Parses the whole text as an unsigned decimal of type T (no sign, no spaces).
template <typename T>
std::optional<T> parse_uint(std::string_view s) {
  if (s.empty()) return std::nullopt;
  T v{};
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc{} || p != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace corvale
