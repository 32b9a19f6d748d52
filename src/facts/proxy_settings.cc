#include "facts/proxy_settings.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <tuple>

#include "util/regex.h"
#include "util/text.h"
#include "util/userinfo.h"

namespace corvale {
namespace {

// Longest text one endpoint match may span: scheme, blanks, '=', a host name
// of up to 255 characters, ':' and the port.
constexpr size_t kEndpointWindow = 400;

bool is_host_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-';
}

// Positions where a scheme word of the endpoint pattern begins right before
// "=" (blanks allowed) or "://"; such a match can start inside a word
// ("proxy-http=...").
std::vector<bool> scheme_starts(std::string_view t) {
  static constexpr std::string_view kSchemes[] = {"socks4a", "socks4", "socks5", "https",
                                                  "socks",   "http",   "all",    "ftp"};
  std::vector<bool> at(t.size(), false);
  auto mark_before = [&](size_t end) {
    for (std::string_view s : kSchemes) {
      if (end < s.size()) continue;
      size_t begin = end - s.size();
      bool same = true;
      for (size_t k = 0; k < s.size() && same; ++k)
        same = std::tolower(static_cast<unsigned char>(t[begin + k])) == s[k];
      if (same) {
        at[begin] = true;
        return;
      }
    }
  };
  for (size_t j = 0; j < t.size(); ++j) {
    if (t[j] == '=') {
      size_t k = j;
      while (k > 0 && std::isspace(static_cast<unsigned char>(t[k - 1]))) --k;
      mark_before(k);
    } else if (t.compare(j, 3, "://") == 0) {
      mark_before(j);
    }
  }
  return at;
}

bool is_secret_name(std::string_view name) {
  while (!name.empty() && name.front() == '-') name.remove_prefix(1);
  std::string lower = to_lower(name);
  static const std::set<std::string, std::less<>> exact = {
      "secret", "password", "passwd", "pass",       "passphrase",  "pwd",   "token",
      "key",    "auth",     "psk",    "credential", "credentials", "cookie"};
  size_t start = 0;
  while (start <= lower.size()) {
    size_t stop = lower.find_first_of("-_.", start);
    if (stop == std::string::npos) stop = lower.size();
    std::string_view seg(lower.data() + start, stop - start);
    if (exact.contains(seg) || seg.find("secret") != std::string_view::npos ||
        seg.find("passw") != std::string_view::npos ||
        seg.find("token") != std::string_view::npos || seg.ends_with("key"))
      return true;
    start = stop + 1;
  }
  return false;
}

// Next position of a quote or of a value's end at or after a given
// position. Asked with positions that never decrease, it remembers its last
// answers, so a token with many '=' and no '&' is scanned once, not once per
// '='.
class NextOf {
 public:
  explicit NextOf(std::string_view tok) : tok_(tok) {}
  size_t quote(char q, size_t from) {
    return find(q == '"' ? dquote_ : squote_, std::string_view(&q, 1), from);
  }
  size_t value_stop(size_t from) { return find(stop_, "& \t\n\r\f\v", from); }

 private:
  struct Cache {
    size_t from = 0, at = 0;
    bool valid = false;
  };
  size_t find(Cache& c, std::string_view set, size_t from) {
    if (!c.valid || from < c.from || from > c.at) {
      size_t at = tok_.find_first_of(set, from);
      c = {from, at == std::string_view::npos ? tok_.size() : at, true};
    }
    c.from = from;
    return c.at;
  }
  std::string_view tok_;
  Cache dquote_, squote_, stop_;
};

// Masks the value of every "name=value" pair in `tok` whose name is
// secret-like; a value runs to the next '&' (a URL query) or the token's end.
std::string mask_secret_assignments(std::string_view tok, char* open_quote = nullptr) {
  std::string out;
  NextOf next{tok};
  size_t i = 0;
  while (true) {
    size_t eq = tok.find('=', i);
    if (eq == std::string_view::npos) break;
    size_t name_start = eq;
    while (name_start > i) {
      char c = tok[name_start - 1];
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') break;
      --name_start;
    }
    out += tok.substr(i, eq + 1 - i);
    // A quoted value ends at its closing quote, whatever it holds.
    size_t value_from = eq + 1;
    char unclosed = 0;
    if (value_from < tok.size() && (tok[value_from] == '"' || tok[value_from] == '\'')) {
      size_t close = next.quote(tok[value_from], value_from + 1);
      if (close == tok.size()) unclosed = tok[value_from];
      value_from = close;
    }
    size_t value_end = next.value_stop(value_from);
    if (is_secret_name(tok.substr(name_start, eq - name_start)) && value_end > eq + 1) {
      out += "***";
      i = value_end;
      if (unclosed != 0 && open_quote != nullptr) *open_quote = unclosed;
    } else {
      i = eq + 1;
    }
  }
  out += tok.substr(i);
  return out;
}

// Whether a command-line piece is an option whose value is the next piece.
bool takes_secret_value(std::string_view tok) {
  if (tok.size() > 1 && tok.front() == '-' && tok.find('=') == std::string_view::npos &&
      (is_secret_name(tok) || tok == "-p" || tok == "-k"))
    return true;
  // An HTTP authorization header value: "Authorization: Bearer X".
  std::string lower = to_lower(tok);
  return lower == "bearer" || lower == "basic";
}

bool is_quote(char c) { return c == '"' || c == '\''; }

// End of the command-line piece starting at `i`: the next white space, except
// that white space inside a closed pair of quotes belongs to the piece, as it
// does for the shell that started the program and for the controller client,
// which reads -secret "a b" as one value. An unclosed quote is an ordinary
// character.
size_t piece_end(std::string_view text, size_t i) {
  size_t j = i;
  while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) {
    if (is_quote(text[j])) {
      size_t close = text.find(text[j], j + 1);
      if (close != std::string_view::npos) {
        j = close + 1;
        continue;
      }
    }
    ++j;
  }
  return j;
}

// A secret in JSON handed over on the command line: "token": "value", or a
// bare number or word. The value run is possessive, so a long value costs no
// backtracking stack; an unclosed string is masked to the end.
const Regex& json_secret_member() {
  return static_regex(
      R"re((?i)("[A-Za-z0-9_.-]*(?:secret|pass|pwd|token|key|auth|psk)[A-Za-z0-9_.-]*"\s*:\s*)(?:"(?:[^"\\]++|\\.)*+"?|[^\s,}\]"]++))re");
}

}  // namespace

std::string redact_proxy_credentials(std::string_view text) {
  std::string stripped = strip_userinfo(text, "");
  std::string out;
  size_t i = 0;
  while (i < stripped.size()) {
    size_t j = i;
    while (j < stripped.size() && !std::isspace(static_cast<unsigned char>(stripped[j]))) ++j;
    out += mask_secret_assignments(std::string_view(stripped).substr(i, j - i));
    while (j < stripped.size() && std::isspace(static_cast<unsigned char>(stripped[j])))
      out += stripped[j++];
    i = j;
  }
  return out;
}

std::string normalize_scheme(std::string_view scheme) { return to_lower(trim_view(scheme)); }

void extract_proxy_endpoints(std::string_view text, const std::string& source,
                             std::vector<ProxyEndpoint>& out) {
  if (text.empty()) return;
  const std::string clean = redact_proxy_credentials(text);
  std::set<std::tuple<std::string, std::string, uint16_t>> seen;
  for (const auto& e : out)
    if (e.source == source) seen.emplace(e.host, e.scheme, e.port);

  // The endpoint pattern, anchored (\G) and tried only where a match can
  // begin, on a bounded window: an unanchored search rescans a long run of
  // host characters from every position in it, and every match call scans
  // its whole subject for invalid UTF-8, so either is quadratic on a megabyte
  // of configuration text. This finds the same leftmost matches except that
  // a match longer than the window (a host of hundreds of characters) is none.
  const Regex& re = static_regex(
      R"((?i)\G(?:(?<scheme>https?|ftp|socks(?:4a?|5)?|all)\s*=\s*|(?<uri>https?|ftp|socks(?:4a?|5)?)://)?(?<host>localhost|127(?:\.\d{1,3}){3}|\[[0-9a-f:%.-]+\]|[A-Za-z0-9_.-]+):(?<port>\d{1,5}))");
  const std::vector<bool> scheme_at = scheme_starts(clean);
  size_t consumed = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    bool may_start = i == consumed || clean[i] == '[' || scheme_at[i] ||
                     (is_host_char(clean[i]) && (i == 0 || !is_host_char(clean[i - 1])));
    if (!may_start) continue;
    auto m = re.find(std::string_view(clean).substr(i, kEndpointWindow));
    if (!m || m->end() == 0) continue;
    consumed = i + m->end();
    i = consumed - 1;
    // A sixth port digit means the number is out of range, not a shorter port;
    // a following '@' means user:pass, not host:port.
    if (consumed < clean.size() &&
        (std::isdigit(static_cast<unsigned char>(clean[consumed])) || clean[consumed] == '@'))
      continue;
    std::string host(m->named("host").value_or(""));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);
    auto port = parse_uint<uint16_t>(m->named("port").value_or(""));
    if (!port || *port == 0 || host.empty()) continue;
    std::string_view scheme;
    if (auto s = m->named("scheme"))
      scheme = *s;
    else if (auto u = m->named("uri"))
      scheme = *u;
    ProxyEndpoint e{source, host, normalize_scheme(scheme), *port};
    if (seen.emplace(e.host, e.scheme, e.port).second) out.push_back(std::move(e));
  }
}

std::vector<SocketEntry> configured_listener_ports(const ProxySettings& settings,
                                                   const std::vector<SocketEntry>& tcp_listeners) {
  std::vector<SocketEntry> out;
  if (!settings.proxy_enabled) return out;
  std::set<uint16_t> ports;
  for (std::string_view piece : split(settings.proxy_server, ';')) {
    if (!static_regex(R"(:\d{2,5})").is_match(piece)) continue;
    auto m = static_regex(R"(((?:https?|socks)\s*=\s*)?[\d\.a-z\*\[\]]*:(\d{2,5}))").find(piece);
    if (!m) continue;
    if (auto port = parse_uint<uint16_t>(m->str(2))) ports.insert(*port);
  }
  for (const auto& l : tcp_listeners)
    if (ports.contains(l.local_port)) out.push_back(l);
  return out;
}

namespace {

struct PieceState {
  bool redact_next = false;  // the next piece is a secret value
  char open_quote = 0;       // a masked value opened this quote and has not closed it
  bool after_mask = false;   // the piece before ended in a masked value
};

// Whether a piece holds a quote without its partner: it closes (or opens) a
// quoted span whose other end lies in another piece.
bool has_lone_quote(std::string_view tok) {
  return std::count(tok.begin(), tok.end(), '"') % 2 == 1 ||
         std::count(tok.begin(), tok.end(), '\'') % 2 == 1;
}

// Masks option values piece by piece. With `group_quotes`, a closed quoted
// span is part of its piece; such a piece that is not itself a masked value
// is looked at again word by word, so that a quote cannot hide an option. A
// masked value whose quote does not close in its piece (the pairing of quotes
// is a guess) is masked on until the quote closes.
std::string redact_pieces(std::string_view text, bool group_quotes, PieceState& st) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (std::isspace(static_cast<unsigned char>(text[i]))) {
      out += text[i++];
      continue;
    }
    size_t j = i;
    if (group_quotes) {
      j = piece_end(text, i);
    } else {
      while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) ++j;
    }
    std::string_view tok(text.data() + i, j - i);
    i = j;
    // Quotes may pair otherwise than guessed: a lone quote right after a
    // masked value may end that value, so the piece goes too.
    if (st.open_quote != 0 ||
        (st.after_mask && has_lone_quote(tok.substr(0, tok.find_first_of(" \t\n\r\f\v"))))) {
      out += "***";
      if (st.open_quote != 0 && tok.find(st.open_quote) != std::string_view::npos)
        st.open_quote = 0;
      continue;
    }
    st.after_mask = false;
    if (st.redact_next) {
      out += "***";
      st.after_mask = true;
      if (is_quote(tok.front()) && tok.find(tok.front(), 1) == std::string_view::npos)
        st.open_quote = tok.front();
      // The value of a value-less flag may itself be a secret option
      // ("-k --secret S"); masked either way, it must still mask what follows.
      st.redact_next = tok.front() == '-' && takes_secret_value(tok);
      continue;
    }
    char opened = 0;
    std::string masked = mask_secret_assignments(tok, &opened);
    if (group_quotes && masked.find_first_of(" \t\n\r\f\v") != std::string::npos) {
      // A piece that is one quoted span is looked at inside its quotes.
      std::string_view m = masked;
      bool wrapped = m.size() >= 2 && is_quote(m.front()) && m.back() == m.front() &&
                     m.find(m.front(), 1) == m.size() - 1;
      if (wrapped) out += m.front();
      std::string_view inner = wrapped ? m.substr(1, m.size() - 2) : m;
      // One argument "--secret=two words": the blanks belong to the value.
      size_t eq = inner.find('=');
      if (wrapped && inner.starts_with('-') && eq != std::string_view::npos &&
          is_secret_name(inner.substr(0, eq))) {
        out += inner.substr(0, eq + 1);
        out += "***";
      } else {
        out += redact_pieces(inner, false, st);
      }
      if (wrapped) out += m.back();
    } else {
      out += masked;
      st.redact_next = takes_secret_value(tok);
      st.after_mask = masked.ends_with("***");
    }
    if (opened != 0) st.open_quote = opened;
  }
  return out;
}

}  // namespace

std::string redact_command_line(std::string_view command_line) {
  auto json_masked = json_secret_member().replace_all(command_line, "$1\"***\"");
  // The matcher failed part-way: nothing of the line is known to be clean, so
  // only the program survives.
  if (!json_masked) {
    std::string_view program = command_line.substr(0, piece_end(command_line, 0));
    return std::string(program) + (program.size() < command_line.size() ? " ***" : "");
  }
  PieceState state;
  return redact_pieces(strip_userinfo(*json_masked, "***@"), true, state);
}

}  // namespace corvale
