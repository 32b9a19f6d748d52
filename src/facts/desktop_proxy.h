// The desktop's own system proxy, as GNOME (org.gnome.system.proxy through
// gsettings) and KDE (kioslaverc) keep it. Browsers and most desktop programs
// follow it; proxy GUIs set it and can leave it behind when they quit.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

struct DesktopProxy {
  enum class Mode { kOff, kManual, kPacUrl, kAutoDetect };
  std::string desktop;  // "GNOME" or "KDE"
  Mode mode = Mode::kOff;
  /// (scheme, host, port) of each manual proxy: http, https, socks.
  std::vector<ProxyEndpoint> servers;
  std::vector<std::string> ignore_hosts;
  std::string pac_url;
};

/// Reads `gsettings list-recursively org.gnome.system.proxy`. Only the mode,
/// the PAC URL, the ignore list and the http/https/socks hosts and ports are
/// taken (never the stored authentication). Absent when no mode line is seen.
std::optional<DesktopProxy> parse_gsettings_proxy(std::string_view text);

/// Reads the `[Proxy Settings]` group of KDE's kioslaverc. A server is
/// "http://127.0.0.1:7897" as the proxy GUIs write it or "http://127.0.0.1 7897"
/// as KDE's own settings page does. Absent without that group.
std::optional<DesktopProxy> parse_kioslaverc(std::string_view text);

/// Of the settings read, the one in force: the first that is not off, the
/// desktop that runs (`current_desktop`, as XDG_CURRENT_DESKTOP names it) first.
std::optional<DesktopProxy> desktop_proxy_in_force(std::vector<DesktopProxy> read,
                                                   std::string_view current_desktop);

/// Fills the platform-shaped proxy settings from the desktop's: ProxyServer
/// in its "scheme=host:port;..." form, ProxyOverride, AutoConfigURL, AutoDetect.
void apply_desktop_proxy(const DesktopProxy& d, ProxySettings& out);

/// The endpoint source of the system proxy: "GNOME proxy", "KDE proxy", or
/// "WinINET" where no desktop filled it.
std::string system_proxy_source(const ProxySettings& s);

}  // namespace corvale
