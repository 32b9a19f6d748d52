// The rules about the desktop's system proxy (GNOME, KDE): the setting proxy
// GUIs make and leave behind when they quit or crash.
#include <fmt/format.h>

#include "facts/desktop_proxy.h"
#include "facts/findings_rules.h"
#include "facts/lookup.h"

namespace corvale::diagnosis {

namespace {

struct SystemProxyTargets {
  std::string source;
  std::vector<std::string> dead, working;
  std::vector<std::string> evidence;
};

// Each local endpoint of the system proxy, sorted by whether a listener
// accepts the connection there.
std::optional<SystemProxyTargets> system_proxy_targets(const Facts& f) {
  const ProxySettings& s = f.proxy_settings;
  if (s.desktop.empty() || !s.proxy_enabled) return std::nullopt;
  SystemProxyTargets t;
  t.source = system_proxy_source(s);
  for (const auto& e : s.endpoints) {
    if (e.source != t.source || !is_local_host(f, e.host)) continue;
    std::string where = endpoint_text(e.host, e.port);
    const SocketEntry* l = accepting_listener(f, e.host, e.port);
    std::string owner = l ? process_name(f, l->pid).value_or("") : "";
    std::string shown = owner.empty() ? where : fmt::format("{} ({})", where, owner);
    auto& list = l ? t.working : t.dead;
    if (std::find(list.begin(), list.end(), shown) != list.end()) continue;
    list.push_back(shown);
    t.evidence.push_back(
        fmt::format("{} {} {}: {}", t.source, e.scheme, where, l ? "accepted" : "no listener"));
  }
  t.evidence.push_back("ProxyServer: " + s.proxy_server);
  return t;
}

Phrase how_to_turn_off(const Context& c, std::string_view desktop) {
  if (desktop == "KDE") return c.phrase("in System Settings → Network → Proxy");
  return c.phrase(
      "in Settings → Network → Network Proxy (or: gsettings set org.gnome.system.proxy mode "
      "'none')");
}

}  // namespace

std::optional<Draft> system_proxy_dead(const Context& c) {
  auto t = system_proxy_targets(c.f);
  if (!t || t->dead.empty()) return std::nullopt;
  Draft d;
  d.say(c,
        "The {} system proxy points at {}, where nothing accepts the connection: browsers and "
        "desktop programs that follow it cannot connect (a proxy GUI that quit may have left it "
        "on). Start the proxy, or turn the system proxy off {}.",
        c.f.proxy_settings.desktop, list_phrase(c, t->dead),
        how_to_turn_off(c, c.f.proxy_settings.desktop));
  d.evidence = t->evidence;
  return d;
}

std::optional<Draft> system_proxy_on(const Context& c) {
  auto t = system_proxy_targets(c.f);
  // The explicit-proxy note already names the system proxy among the
  // settings programs follow.
  if (!t || t->working.empty() || !t->dead.empty() ||
      effective_level(c) == InterceptionLevel::kExplicitProxy)
    return std::nullopt;
  Draft d;
  d.say(c,
        "The {} system proxy sends browsers and desktop programs to {}; programs that ignore it "
        "connect as the routes say.",
        c.f.proxy_settings.desktop, list_phrase(c, t->working));
  d.evidence = t->evidence;
  return d;
}

}  // namespace corvale::diagnosis
