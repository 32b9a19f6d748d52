// The printed word of an enumeration value, read from one table per type, so
// that every verdict has exactly one text function and none is a hand-written
// switch that can drift from its siblings.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>

namespace corvale {

template <typename E>
using EnumWords = std::pair<E, std::string_view>;

/// The word of `value` in `table`; `fallback` for a value the table lacks.
template <typename E, size_t N>
constexpr std::string_view enum_text(const EnumWords<E> (&table)[N], E value,
                                     std::string_view fallback = {}) {
  for (const auto& [v, word] : table)
    if (v == value) return word;
  return fallback;
}

}  // namespace corvale
