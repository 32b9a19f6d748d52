#include "util/html.h"

#include "util/text.h"

namespace corvale {

std::string html_escape(std::string_view text) {
  std::string r;
  r.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&':
        r += "&amp;";
        break;
      case '"':
        r += "&quot;";
        break;
      case '\'':
        r += "&#39;";
        break;
      case '<':
        r += "&lt;";
        break;
      case '>':
        r += "&gt;";
        break;
      default:
        r += c;
    }
  }
  return r;
}

std::string html_text(std::string_view untrusted, bool keep_lines) {
  if (!keep_lines) return html_escape(terminal_safe(untrusted));
  std::string out;
  bool first = true;
  for (std::string_view line : split(untrusted, '\n')) {
    if (!first) out += '\n';
    first = false;
    out += html_escape(terminal_safe(line));
  }
  return out;
}

}  // namespace corvale
