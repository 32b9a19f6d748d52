#include "facts/desktop_proxy.h"

#include <algorithm>

#include "facts/lookup.h"
#include "facts/proxy_settings.h"
#include "util/ip.h"
#include "util/text.h"
#include "util/userinfo.h"

namespace corvale {

namespace {

// A host fit for the "scheme=host:port;..." form: a name or an address, so
// that no hostile value can add a proxy of its own or break the list. A zone
// ("fe80::1%eth0") is left out: the endpoint reader could not take it back;
// so is anything with a colon that is not an IPv6 address ("[:a:1]"), which
// would read back as another host and port.
bool is_plain_host(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  bool plain = std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ||
           c == ':';
  });
  if (!plain) return false;
  if (host.find(':') == std::string_view::npos) return true;
  auto ip = parse_ip(host);
  return ip && !ip->is_v4();
}

void add_server(DesktopProxy& d, std::string_view scheme, std::string_view host,
                std::optional<uint16_t> port) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (!port || *port == 0 || !is_plain_host(host)) return;
  d.servers.push_back(
      ProxyEndpoint{d.desktop + " proxy", std::string(host), std::string(scheme), *port});
}

// The quoted strings of a GVariant text: 'a', "it's", ['a', 'b'], @as [].
std::vector<std::string> gvariant_strings(std::string_view v) {
  std::vector<std::string> out;
  for (size_t i = 0; i < v.size(); ++i) {
    char q = v[i];
    if (q != '\'' && q != '"') continue;
    std::string s;
    for (++i; i < v.size() && v[i] != q; ++i) {
      if (v[i] == '\\' && i + 1 < v.size()) ++i;
      s += v[i];
    }
    out.push_back(std::move(s));
  }
  return out;
}

std::string gvariant_string(std::string_view v) {
  auto all = gvariant_strings(v);
  return all.empty() ? std::string() : all.front();
}

// "int32 7897" and "7897" alike.
std::optional<uint16_t> gvariant_port(std::string_view v) {
  auto words = split_ws(v);
  return words.empty() ? std::nullopt : parse_uint<uint16_t>(words.back());
}

// host and port of one kioslaverc server: "http://h:7897", "http://h 7897",
// "h:7897", "[::1]:7897", with any user-info and path left out.
void add_kde_server(DesktopProxy& d, std::string_view scheme, std::string_view value) {
  std::string text = strip_userinfo(trim_view(value), "");
  std::string_view t = text;
  if (auto sep = t.find("://"); sep != std::string_view::npos) t.remove_prefix(sep + 3);
  if (auto blank = t.find_first_of(" \t"); blank != std::string_view::npos) {
    std::string_view host = t.substr(0, blank);
    if (host.ends_with('/')) host.remove_suffix(1);
    add_server(d, scheme, host, parse_uint<uint16_t>(trim_view(t.substr(blank))));
    return;
  }
  t = t.substr(0, t.find('/'));
  auto colon = t.rfind(':');
  if (colon == std::string_view::npos) return;
  std::string_view host = t.substr(0, colon);
  // A bare IPv6 address has colons of its own and no port.
  if (host.find(':') != std::string_view::npos && !host.starts_with('[')) return;
  add_server(d, scheme, host, parse_uint<uint16_t>(t.substr(colon + 1)));
}

}  // namespace

std::optional<DesktopProxy> parse_gsettings_proxy(std::string_view text) {
  DesktopProxy d;
  d.desktop = "GNOME";
  bool seen_mode = false;
  struct Part {
    std::string host;
    std::optional<uint16_t> port;
  };
  Part parts[3];
  static constexpr std::string_view kSchemes[] = {"http", "https", "socks"};
  for (std::string_view line : split_lines(text)) {
    line = trim_view(line);
    auto sp1 = line.find(' ');
    if (sp1 == std::string_view::npos) continue;
    auto sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos) continue;
    std::string_view schema = line.substr(0, sp1), key = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string_view value = line.substr(sp2 + 1);
    if (schema == "org.gnome.system.proxy") {
      if (key == "mode") {
        seen_mode = true;
        std::string m = gvariant_string(value);
        d.mode = m == "manual" ? DesktopProxy::Mode::kManual
                 : m == "auto" ? DesktopProxy::Mode::kPacUrl
                               : DesktopProxy::Mode::kOff;
      } else if (key == "autoconfig-url") {
        d.pac_url = gvariant_string(value);
      } else if (key == "ignore-hosts") {
        d.ignore_hosts = gvariant_strings(value);
      }
      continue;
    }
    for (size_t k = 0; k < 3; ++k) {
      if (schema != "org.gnome.system.proxy." + std::string(kSchemes[k])) continue;
      if (key == "host") parts[k].host = gvariant_string(value);
      if (key == "port") parts[k].port = gvariant_port(value);
    }
  }
  if (!seen_mode) return std::nullopt;
  // GNOME with an empty PAC URL asks the network (WPAD), as KDE's type 3 does.
  if (d.mode == DesktopProxy::Mode::kPacUrl && trim_view(d.pac_url).empty())
    d.mode = DesktopProxy::Mode::kAutoDetect;
  for (size_t k = 0; k < 3; ++k) add_server(d, kSchemes[k], parts[k].host, parts[k].port);
  return d;
}

std::optional<DesktopProxy> parse_kioslaverc(std::string_view text) {
  DesktopProxy d;
  d.desktop = "KDE";
  bool in_group = false, seen_group = false;
  std::string http, https, socks, no_proxy;
  for (std::string_view line : split_lines(text)) {
    line = trim_view(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      in_group = line == "[Proxy Settings]";
      seen_group = seen_group || in_group;
      continue;
    }
    auto eq = line.find('=');
    if (!in_group || eq == std::string_view::npos) continue;
    // Keys may carry flags or a locale: httpProxy[$e]=...
    std::string_view key = trim_view(line.substr(0, eq));
    key = trim_view(key.substr(0, key.find('[')));
    std::string value(trim_view(line.substr(eq + 1)));
    if (key == "ProxyType") {
      auto type = parse_uint<unsigned>(value).value_or(0);
      d.mode = type == 1   ? DesktopProxy::Mode::kManual
               : type == 2 ? DesktopProxy::Mode::kPacUrl
               : type == 3 ? DesktopProxy::Mode::kAutoDetect
                           : DesktopProxy::Mode::kOff;
    } else if (key == "httpProxy") {
      http = value;
    } else if (key == "httpsProxy") {
      https = value;
    } else if (key == "socksProxy") {
      socks = value;
    } else if (key == "NoProxyFor") {
      no_proxy = value;
    } else if (key == "Proxy Config Script") {
      d.pac_url = value;
    }
  }
  if (!seen_group) return std::nullopt;
  add_kde_server(d, "http", http);
  add_kde_server(d, "https", https);
  add_kde_server(d, "socks", socks);
  for (std::string_view h : split(no_proxy, ','))
    if (!trim_view(h).empty()) d.ignore_hosts.emplace_back(trim_view(h));
  return d;
}

std::optional<DesktopProxy> desktop_proxy_in_force(std::vector<DesktopProxy> read,
                                                   std::string_view current_desktop) {
  bool kde_first = to_lower(current_desktop).find("kde") != std::string::npos;
  std::stable_sort(read.begin(), read.end(), [&](const DesktopProxy& a, const DesktopProxy& b) {
    return (a.desktop == "KDE") == kde_first && (b.desktop == "KDE") != kde_first;
  });
  for (auto& d : read)
    if (d.mode != DesktopProxy::Mode::kOff) return std::move(d);
  return std::nullopt;
}

void apply_desktop_proxy(const DesktopProxy& d, ProxySettings& out) {
  out.desktop = d.desktop;
  std::vector<std::string> servers;
  if (d.mode == DesktopProxy::Mode::kManual)
    for (const auto& s : d.servers)
      servers.push_back(s.scheme + "=" + endpoint_text(s.host, s.port));
  out.proxy_server = join(servers, ";");
  out.proxy_enabled = !servers.empty();
  out.proxy_override = redact_proxy_credentials(join(d.ignore_hosts, ";"));
  if (d.mode == DesktopProxy::Mode::kPacUrl)
    out.auto_config_url = redact_proxy_credentials(d.pac_url);
  out.auto_detect = d.mode == DesktopProxy::Mode::kAutoDetect;
}

std::string system_proxy_source(const ProxySettings& s) {
  return s.desktop.empty() ? "WinINET" : s.desktop + " proxy";
}

}  // namespace corvale
