// A whole `Facts` record built from fuzz bytes, for the targets that check
// what the program writes out (findings, report): every host text comes
// from the input, numbers and choices too, and a planted secret sits in each
// place a credential may come from (command lines, proxy settings, a
// controller's address, its configuration).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "facts/facts.h"
#include "fuzz_support.h"

namespace corvale::fuzz {

/// Reads the input front to back; once it runs out every read gives zero or
/// an empty text, so any input makes a complete record.
class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}
  uint8_t byte() {
    if (data_.empty()) return 0;
    auto b = static_cast<uint8_t>(data_.front());
    data_.remove_prefix(1);
    return b;
  }
  bool flag() { return byte() & 1; }
  size_t below(size_t n) { return n == 0 ? 0 : byte() % n; }
  uint16_t port() { return static_cast<uint16_t>(byte() << 8 | byte()); }
  /// Up to 31 bytes, or one of `known` so the rules meet texts they match.
  std::string text(std::initializer_list<const char*> known = {}) {
    uint8_t b = byte();
    if (known.size() != 0 && (b & 0x80)) return *(known.begin() + (b & 0x7F) % known.size());
    size_t n = std::min<size_t>(b & 0x1F, data_.size());
    std::string s(data_.substr(0, n));
    data_.remove_prefix(n);
    return s;
  }

 private:
  std::string_view data_;
};

/// The record; `secret` is placed only where the program must remove it.
Facts fuzz_facts(Bytes& in, const std::string& secret);

/// One input's record with its planted secret, and the bytes left after it
/// for the target's own choices.
struct PlantedFacts {
  std::string secret;
  Bytes in;
  Facts facts;
};
/// Absent for an input that holds the marker itself: a secret planted there
/// could not be told from one the program leaked.
inline std::optional<PlantedFacts> planted_facts(std::string_view text) {
  if (text.find(kMarker) != std::string_view::npos) return std::nullopt;
  PlantedFacts p{planted_password(text), Bytes(text), {}};
  p.facts = fuzz_facts(p.in, p.secret);
  return p;
}

}  // namespace corvale::fuzz
