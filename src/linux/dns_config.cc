#include "linux/dns_config.h"

#include <algorithm>
#include <unordered_set>

#include "util/command.h"
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

namespace {

// "1.1.1.1#one.one.one.one", "[2606:4700::1111]:853", "9.9.9.9:853" -> the address.
std::string server_address(std::string_view s) {
  s = s.substr(0, s.find('#'));
  if (s.starts_with('[')) {
    auto close = s.find(']');
    return close == std::string_view::npos ? std::string() : std::string(s.substr(1, close - 1));
  }
  if (std::count(s.begin(), s.end(), ':') == 1) s = s.substr(0, s.find(':'));
  return std::string(s);
}

}  // namespace

LinkDns parse_resolvectl_dns(std::string_view text) {
  LinkDns out;
  for (auto raw : split_lines(text)) {
    auto line = trim_view(raw);
    if (!line.starts_with("Link ")) continue;
    auto open = line.find(" (");
    auto close = line.find("):", open == std::string_view::npos ? 0 : open);
    if (open == std::string_view::npos || close == std::string_view::npos) continue;
    std::string name(line.substr(open + 2, close - open - 2));
    if (name.empty()) continue;
    std::vector<std::string> servers;
    for (auto field : split_ws(line.substr(close + 2))) {
      std::string a = server_address(field);
      if (!a.empty() && std::find(servers.begin(), servers.end(), a) == servers.end())
        servers.push_back(std::move(a));
    }
    if (!servers.empty()) out[name] = std::move(servers);
  }
  return out;
}

LinkDns read_link_dns() {
  CommandResult r = run_command("resolvectl", {"dns"}, kResolvectlLimit);
  if (!r.started || r.timed_out || r.exit_status != 0) return {};
  return parse_resolvectl_dns(decode_utf8_lossy(r.out));
}

void apply_link_dns(std::vector<Adapter>& adapters, const LinkDns& links) {
  for (auto& a : adapters)
    if (auto it = links.find(a.name); it != links.end()) a.dns_servers = it->second;
}

}  // namespace corvale
