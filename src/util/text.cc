#include "util/text.h"

#include <cmath>
#include <cstdlib>

namespace corvale {
namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Length of the valid UTF-8 sequence at s[i], or 0 when it is invalid.
size_t utf8_seq_len(std::string_view s, size_t i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n = s.size() - i;
  auto cont = [&](size_t k) { return k < n && (b(i + k) & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    unsigned char c1 = b(i + 1);
    if (c == 0xE0 && c1 < 0xA0) return 0;  // overlong
    if (c == 0xED && c1 > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    unsigned char c1 = b(i + 1);
    if (c == 0xF0 && c1 < 0x90) return 0;
    if (c == 0xF4 && c1 > 0x8F) return 0;
    return 4;
  }
  return 0;
}

}  // namespace

std::string_view trim_view(std::string_view s) {
  size_t a = 0, e = s.size();
  while (a < e && is_space(s[a])) ++a;
  while (e > a && is_space(s[e - 1])) --e;
  return s.substr(a, e - a);
}

std::string trim(std::string_view s) { return std::string(trim_view(s)); }

std::string to_lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string to_upper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::vector<std::string_view> split_ws(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && is_space(s[i])) ++i;
    size_t st = i;
    while (i < s.size() && !is_space(s[i])) ++i;
    if (i > st) out.push_back(s.substr(st, i - st));
  }
  return out;
}

std::vector<std::string_view> split_lines(std::string_view s) {
  std::vector<std::string_view> out;
  size_t st = 0;
  while (st < s.size()) {
    size_t nl = s.find('\n', st);
    if (nl == std::string_view::npos) {
      out.push_back(s.substr(st));
      break;
    }
    out.push_back(s.substr(st, nl - st));
    st = nl + 1;
  }
  return out;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  size_t st = 0;
  for (;;) {
    size_t p = s.find(sep, st);
    if (p == std::string_view::npos) {
      out.push_back(s.substr(st));
      return out;
    }
    out.push_back(s.substr(st, p - st));
    st = p + 1;
  }
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
  std::string r;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) r += sep;
    r += parts[i];
  }
  return r;
}

std::string decode_utf8_lossy(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    size_t n = utf8_seq_len(s, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(s.data() + i, n);
      i += n;
    }
  }
  return out;
}

bool is_valid_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    size_t n = utf8_seq_len(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

namespace {

// Code points a terminal or a text layout acts on instead of showing: the
// bidirectional marks, embeddings, overrides and isolates (which can make a
// name read backwards), and the line and paragraph separators.
bool is_invisible_control(uint32_t cp) {
  return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069);
}

uint32_t code_point(std::string_view s, size_t i, size_t n) {
  auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(s[i + k])); };
  if (n == 1) return b(0);
  if (n == 2) return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
  if (n == 3) return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
  return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
}

}  // namespace

std::string terminal_safe(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    size_t n = utf8_seq_len(s, i);
    if (n == 0) {
      auto c = static_cast<unsigned char>(s[i++]);
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
      continue;
    }
    uint32_t cp = code_point(s, i, n);
    if (cp < 0x20 || cp == 0x7F) {
      out += "\\x";
      out += kHex[cp >> 4];
      out += kHex[cp & 0xF];
    } else if ((cp >= 0x80 && cp <= 0x9F) || is_invisible_control(cp)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
    } else {
      out.append(s.data() + i, n);
    }
    i += n;
  }
  return out;
}

double round2(double v) { return std::round(v * 100.0) / 100.0; }

}  // namespace corvale
