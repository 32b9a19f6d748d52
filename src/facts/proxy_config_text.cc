#include "facts/proxy_config_text.h"

#include "facts/proxy_settings.h"
#include "util/text.h"

namespace corvale {

std::string without_comment_lines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::string_view line : split_lines(text)) {
    std::string_view t = trim_view(line);
    if (t.starts_with('#') || t.starts_with(';') || t.starts_with("//")) continue;
    out.append(line);
    out.push_back('\n');
  }
  return out;
}

void config_text_endpoints(std::string_view raw, const std::string& path,
                           std::vector<ProxyEndpoint>& out) {
  // Commented-out settings are not in effect; sample configurations are
  // full of them.
  extract_proxy_endpoints(without_comment_lines(decode_utf8_lossy(raw)), "config:" + path, out);
}

}  // namespace corvale
