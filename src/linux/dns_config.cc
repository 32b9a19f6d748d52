#include "linux/dns_config.h"

#include <unordered_set>

#include "util/file.h"
#include "util/text.h"

namespace corvale {

std::vector<std::string> parse_resolv_conf(std::string_view text) {
  constexpr std::string_view kKey = "nameserver";
  std::vector<std::string> servers;
  std::unordered_set<std::string_view> seen;
  for (auto raw : split_lines(text)) {
    auto line = trim_view(raw);
    if (!line.starts_with(kKey)) continue;
    // The rest is taken whole: "nameserver1.2.3.4" and trailing comments stay.
    auto rest = trim_view(line.substr(kKey.size()));
    if (rest.empty() || !seen.insert(rest).second) continue;
    servers.emplace_back(rest);
  }
  return servers;
}

std::vector<std::string> read_dns_servers() {
  auto text = read_file("/etc/resolv.conf", 256u << 10);
  if (!text) return {};
  return parse_resolv_conf(decode_utf8_lossy(*text));
}

}  // namespace corvale
