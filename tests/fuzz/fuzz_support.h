// Shared by the fuzz targets: the input as text, and invariant checks that
// fail loudly both under libFuzzer and in the corpus replay test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace corvale::fuzz {

inline std::string_view text_of(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::string shown(detail);
  std::fprintf(stderr, "fuzz invariant broken: %s [%s]\n", what, shown.c_str());
  std::abort();
}

inline void check(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

/// Starts every planted secret; an input that holds it plants nothing.
inline constexpr std::string_view kMarker = "Pl4nted";

/// A password built from fuzz bytes: a fixed marker (so plain text cannot
/// hold it by chance) followed by up to 12 characters allowed in URL
/// user-info, including '@', ':', '/', '?', '#' and '%'; never "://" (that would start
/// a new URL, not continue the password). No quote: configuration text
/// quotes URLs, so the redaction takes a quote as the end of one.
inline std::string planted_password(std::string_view seed) {
  static constexpr std::string_view kAlphabet = "abcXYZ019-._~!$&()*+,;=:@/?#%";
  std::string pw(kMarker);
  size_t take = seed.size() < 12 ? seed.size() : 12;
  for (size_t i = seed.size() - take; i < seed.size(); ++i)
    pw += kAlphabet[static_cast<unsigned char>(seed[i]) % kAlphabet.size()];
  for (size_t at; (at = pw.find("://")) != std::string::npos;) pw[at + 1] = 'x';
  return pw;
}

}  // namespace corvale::fuzz
