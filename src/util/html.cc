#include "util/html.h"

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

}  // namespace corvale
