#include "linux/dns_config.h"

#include <algorithm>
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

namespace {

constexpr size_t kMaxResolvConf = 256u << 10;

std::vector<std::string> servers_of(const char* path) {
  // Desktops with systemd-resolved or NetworkManager make /etc/resolv.conf a
  // link into /run; it is followed like every system file.
  auto text = read_file(path, kMaxResolvConf);
  if (!text) return {};
  return parse_resolv_conf(decode_utf8_lossy(*text));
}

}  // namespace

std::vector<std::string> read_dns_servers() { return servers_of("/etc/resolv.conf"); }

bool names_resolved_stub(const std::vector<std::string>& servers) {
  return std::any_of(servers.begin(), servers.end(),
                     [](const std::string& s) { return s == "127.0.0.53" || s == "127.0.0.54"; });
}

std::vector<std::string> read_upstream_dns_servers(const std::vector<std::string>& servers) {
  if (!names_resolved_stub(servers)) return {};
  return servers_of("/run/systemd/resolve/resolv.conf");
}

}  // namespace corvale
