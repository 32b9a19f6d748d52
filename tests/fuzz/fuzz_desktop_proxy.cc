// GNOME's gsettings listing and KDE's kioslaverc: whatever the text, the
// ProxyServer made from them lists exactly the servers read, each as one
// "scheme=host:port" entry that reads back to itself.
#include "facts/desktop_proxy.h"
#include "facts/proxy_settings.h"
#include "fuzz_support.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  std::string_view text = fuzz::text_of(data, size);
  for (auto d : {parse_gsettings_proxy(text), parse_kioslaverc(text)}) {
    if (!d) continue;
    d->mode = DesktopProxy::Mode::kManual;
    ProxySettings s;
    apply_desktop_proxy(*d, s);
    fuzz::check(s.proxy_enabled == !d->servers.empty(), "on exactly when a server was read",
                s.proxy_server);
    std::vector<ProxyEndpoint> back;
    extract_proxy_endpoints(s.proxy_server, system_proxy_source(s), back);
    fuzz::check(split(s.proxy_server, ';').size() == (d->servers.empty() ? 1 : d->servers.size()),
                "one entry per server", s.proxy_server);
    for (const auto& e : d->servers) {
      fuzz::check(e.port != 0, "no port 0", s.proxy_server);
      bool found = false;
      for (const auto& b : back) found = found || (b.host == e.host && b.port == e.port);
      fuzz::check(found, "each server reads back from ProxyServer", s.proxy_server);
    }
    fuzz::check(terminal_safe(s.proxy_server) == s.proxy_server, "nothing to escape",
                s.proxy_server);
  }
  return 0;
}
