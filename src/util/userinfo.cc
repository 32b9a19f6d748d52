#include "util/userinfo.h"

#include <algorithm>
#include <cctype>

#include "util/regex.h"

namespace corvale {
namespace {

// Characters that end a token of free text. A single quote is a user-info
// character (an RFC 3986 sub-delimiter), so it does not end one; the price is
// that a quote opening a "user:pass@host" token goes with the credential.
bool ends_token(char c) {
  return std::isspace(static_cast<unsigned char>(c)) || c == '"' || c == '<' || c == '>' ||
         c == '`';
}

bool is_word(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
  return true;
}

// A token without "://" before its last '@': "user:pass@host" is a credential
// when the part before '@' holds ':' or the part after starts as host:port;
// "name@example.org" is an e-mail address and stays. A leading "label="
// (scheme or variable name) that is a plain word is kept.
void strip_bare(std::string_view tok, std::string_view replacement, std::string& out) {
  size_t at = tok.rfind('@');
  if (at == std::string_view::npos || at == 0) {
    out += tok;
    return;
  }
  std::string_view pre = tok.substr(0, at), post = tok.substr(at + 1);
  bool credential_like =
      pre.find(':') != std::string_view::npos ||
      static_regex(R"(^(?:\[[0-9A-Fa-f:%.]+\]|[A-Za-z0-9_.-]+):\d)").is_match(post.substr(0, 300));
  if (!credential_like) {
    out += tok;
    return;
  }
  size_t eq = pre.find('=');
  if (eq != std::string_view::npos && is_word(pre.substr(0, eq))) out += pre.substr(0, eq + 1);
  out += replacement;
  out += post;
}

bool is_host_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-';
}

// Length of the "host[:port]" or "[v6]:port" that `s` starts with when the
// end, '/', '?', '#' or a list's ';' or ',' follows it; npos otherwise.
size_t plain_authority(std::string_view s) {
  size_t i = 0;
  if (!s.empty() && s[0] == '[') {
    i = s.find(']');
    if (i == std::string_view::npos) return std::string_view::npos;
    ++i;
  } else {
    while (i < s.size() && is_host_char(s[i])) ++i;
  }
  if (i < s.size() && s[i] == ':') {
    size_t digits = i + 1;
    while (digits < s.size() && std::isdigit(static_cast<unsigned char>(s[digits]))) ++digits;
    i = digits;
  }
  // A quote ending the token closes a quoted URL.
  bool closing_quote = i + 1 == s.size() && s[i] == '\'';
  if (i < s.size() && s[i] != '/' && s[i] != '?' && s[i] != '#' && s[i] != ';' && s[i] != ',' &&
      !closing_quote)
    return std::string_view::npos;
  return i;
}

// One URL piece: when a "://" stands before its last '@', everything from the
// first such authority to that '@' is user-info, whatever it holds ('/', '?',
// '#'); the text before the first "://" is read as a bare token of its own.
// When no host follows that '@' (it stood in a query value), what follows may
// be the rest of a secret too, and goes with it.
void strip_piece(std::string_view tok, std::string_view replacement, std::string& out) {
  size_t at = tok.rfind('@');
  size_t sep = tok.find("://");
  if (at == std::string_view::npos || sep == std::string_view::npos || sep > at) {
    strip_bare(tok, replacement, out);
    return;
  }
  strip_bare(tok.substr(0, sep), replacement, out);
  out += "://";
  out += replacement;
  std::string_view rest = tok.substr(at + 1);
  if (plain_authority(rest) != std::string_view::npos) out += rest;
}

// Where a new URL starts inside a token: after ';' or ',', an optional
// "label=" and a "scheme://" ("http=http://a;https=http://b").
bool starts_url_at(std::string_view tok, size_t i) {
  if (tok[i] != ';' && tok[i] != ',') return false;
  size_t j = i + 1, limit = std::min(tok.size(), i + 80);
  while (j < limit && (std::isalnum(static_cast<unsigned char>(tok[j])) || tok[j] == '_' ||
                       tok[j] == '-' || tok[j] == '+' || tok[j] == '.' || tok[j] == '='))
    ++j;
  return j > i + 1 && tok.compare(j, 3, "://") == 0;
}

// Whether the piece starting at `start` names a plain host first: after its
// "://" when that stands before `end`, else after a short "label=".
bool names_plain_host(std::string_view tok, size_t start, size_t sep, size_t end) {
  size_t auth = start;
  if (sep < end) {
    auth = sep + 3;
  } else {
    size_t j = auth + (tok[auth] == ';' || tok[auth] == ',');
    while (j < end && j < start + 80 &&
           (std::isalnum(static_cast<unsigned char>(tok[j])) || tok[j] == '_' || tok[j] == '-'))
      ++j;
    if (j < end && tok[j] == '=') auth = j + 1;
  }
  return plain_authority(tok.substr(auth, end - auth)) != std::string_view::npos;
}

// A token may hold several URLs joined by ';' or ','; each is read alone
// unless the cut might fall inside a credential: a piece is cut off from the
// URL after it only when it has its own '@' (its credential ends there) or
// names a plain host. Otherwise ("http://u:pa;s" of a password holding
// ";https://") it stays with the piece after it, whose '@' ends it. Every
// character is looked at a bounded number of times.
void strip_token(std::string_view tok, std::string_view replacement, std::string& out) {
  size_t start = 0;
  size_t sep = tok.find("://");
  bool has_at = false;
  // Whether the piece names a plain host depends only on its start and on
  // whether its "://" lies inside it, so it is worked out once for each.
  int plain[2] = {-1, -1};
  for (size_t i = 0; i < tok.size(); ++i) {
    has_at |= tok[i] == '@';
    if (i == start || !starts_url_at(tok, i)) continue;
    int& known = plain[sep < i];
    if (known < 0) known = names_plain_host(tok, start, sep, i);
    if (!has_at && known == 0) continue;
    strip_piece(tok.substr(start, i - start), replacement, out);
    start = i;
    has_at = false;
    plain[0] = plain[1] = -1;
    sep = tok.find("://", start);
  }
  strip_piece(tok.substr(start), replacement, out);
}

}  // namespace

std::string strip_userinfo(std::string_view text, std::string_view replacement) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (ends_token(text[i])) {
      out += text[i++];
      continue;
    }
    size_t j = i;
    while (j < text.size() && !ends_token(text[j])) ++j;
    strip_token(text.substr(i, j - i), replacement, out);
    i = j;
  }
  return out;
}

}  // namespace corvale
