// Type-checked reads of one field of an `ip -j` JSON object. Values of the
// wrong type or out of range read as absent, so hostile output cannot throw.
#pragma once

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace corvale::json_fields {

/// A non-negative integer that fits T; absent for anything else.
template <typename T>
std::optional<T> uint_field(const nlohmann::json& obj, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end()) return std::nullopt;
  uint64_t v = 0;
  if (it->is_number_unsigned()) {
    v = it->template get<uint64_t>();
  } else if (it->is_number_integer()) {
    int64_t s = it->template get<int64_t>();
    if (s < 0) return std::nullopt;
    v = static_cast<uint64_t>(s);
  } else {
    return std::nullopt;
  }
  if (v > std::numeric_limits<T>::max()) return std::nullopt;
  return static_cast<T>(v);
}

/// The string value, or empty text when missing or not a string.
inline std::string text_field(const nlohmann::json& obj, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

/// Parses JSON without exceptions; invalid UTF-8 is replaced first so that one
/// odd byte in an interface name does not discard the whole listing.
nlohmann::json parse_lenient(std::string_view text);

}  // namespace corvale::json_fields
