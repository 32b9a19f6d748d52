#include "facts/proxy_config_text.h"

#include <algorithm>

#include "facts/core_config.h"
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
                           std::vector<ProxyEndpoint>& out,
                           std::vector<ProxyEndpoint>* controllers) {
  const std::string text = decode_utf8_lossy(raw);
  const std::string source = "config:" + path;
  if (auto core = core_config_endpoints(text, source)) {
    // A core's own file says what it opens; its other host:port texts (DNS,
    // upstream servers, rule payloads) are no proxy of this host.
    for (auto& e : core->listeners)
      if (std::find(out.begin(), out.end(), e) == out.end()) out.push_back(std::move(e));
    if (controllers)
      for (auto& e : core->controllers)
        if (std::find(controllers->begin(), controllers->end(), e) == controllers->end())
          controllers->push_back(std::move(e));
    return;
  }
  // Commented-out settings are not in effect; sample configurations are
  // full of them.
  extract_proxy_endpoints(without_comment_lines(text), source, out);
}

}  // namespace corvale
