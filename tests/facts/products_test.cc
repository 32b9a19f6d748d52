// The product-name table: each pattern against names it must and must not take.
#include "facts/products.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace corvale {
namespace {

// One row a pattern: a text it matches and one it leaves, chosen at the
// edge each pattern draws (case, anchoring, generic words).
TEST(ProductPatterns, EachPatternDrawsItsOwnEdge) {
  const ProductPatterns& p = product_patterns();
  struct Row {
    const Regex& pattern;
    const char* match;
    const char* no_match;
  } rows[] = {
      {p.known_identity, "SingBox run -c x", "myvpnd /usr/bin/myvpnd"},
      {p.generic_identity, "myvpnd /usr/bin/myvpnd", "nginx /usr/sbin/nginx"},
      {p.interactive_app, "firefox /usr/lib/firefox/firefox", "firefoxish /opt/x"},
      {p.proxy_core, "frp-tunnel", "nginx"},
      {p.controller_core, "sing-box", "xray"},
      {p.gui_front_end, "clash-verge", "verge-mihomo"},
      {p.singbox_core, "SingBox", "mihomo"},
      {p.proxy_process_name, "hysteria2", "Mihomo"},
      {p.product_service, "warp-svc.service", "cups.service"},
      {p.config_folder, "Clash Verge", "fontconfig"},
      {p.tunnel_adapter, "wg0 wireguard", "eth0 Intel Ethernet"},
      {p.capture_process, "Hiddify", "mytrojan"},
      {p.chain_core, "clash", "Mihomo"},
      {p.chain_preferred_core, "verge-mihomo", "clash"},
  };
  for (const Row& r : rows) {
    EXPECT_TRUE(r.pattern.is_match(r.match)) << r.pattern.pattern() << " on " << r.match;
    EXPECT_FALSE(r.pattern.is_match(r.no_match)) << r.pattern.pattern() << " on " << r.no_match;
  }
  // The table is built once: every caller shares the same compiled patterns.
  EXPECT_EQ(&product_patterns(), &p);
}

// Each predicate over a process's name or identity, with the texts it must
// and must not take.
TEST(ProductPredicates, TakeWhatTheyShould) {
  const ProductPatterns& p = product_patterns();
  auto by = [](const Regex& r) { return [&r](std::string_view t) { return r.is_match(t); }; };
  struct Row {
    const char* what;
    std::function<bool(std::string_view)> predicate;
    std::vector<const char*> takes, leaves;
  };
  const Row rows[] = {
      {"interactive app",
       by(p.interactive_app),
       {"Discord /opt/discord/Discord ", "code /usr/share/code/code --type=utility"},
       {"vscode-server /srv/vscodium x"}},
      {"known identity", by(p.known_identity), {"sing-box", "SingBox"}, {}},
      {"proxy core identity",
       is_proxy_core_identity,
       {"steam /usr/bin/steam --with clash"},
       {"steam /usr/bin/steam -proxy"}},
      // sing-box serves the same controller when its clash_api is configured.
      {"controller core",
       is_controller_core,
       {"verge-mihomo /opt/verge-mihomo verge-mihomo -d x", "Clash.Meta  ",
        "sing-box /usr/bin/sing-box run"},
       {"xray /usr/bin/xray run"}},
      // The GUI is not its core.
      {"GUI front end",
       is_gui_front_end,
       {"clash-verge", "clash-verge-service", "mihomo-party", "FlClash"},
       {"verge-mihomo", "mihomo", "clash-verge-x", "sing-box", ""}},
      // Process names are matched case-sensitively.
      {"proxy process name",
       is_proxy_process_name,
       {"mihomo", "clash", "verge-mihomo", "sing-box", "singbox", "xray", "v2ray", "ssr-local",
        "tailscaled", "openvpn", "frpc", "hysteria2", "nordvpnd"},
       {"Clash-Verge", "Mihomo", "V2Ray", "sing box", "firefox", "sshd", ""}},
  };
  for (const Row& r : rows) {
    for (const char* text : r.takes) EXPECT_TRUE(r.predicate(text)) << r.what << ": " << text;
    for (const char* text : r.leaves) EXPECT_FALSE(r.predicate(text)) << r.what << ": " << text;
  }
  EXPECT_EQ(process_identity({1, "n", "/p", "c a"}), "n /p c a");
}

TEST(CaptureProcessNames, PatternAndShortNames) {
  struct Case {
    const char* name;
    bool traced;
    const char* short_name;
  };
  const Case cases[] = {
      {"verge-mihomo", true, "mihomo"}, {"Clash", true, "clash"},
      {"sing-box", true, "singbox"},    {"xray", true, "v2ray"},
      {"hysteria", true, "hysteria"},   {"firefox", false, "firefox"},
      {"mytrojan", false, "trojan"},    {"WireGuard", true, "wireguard"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_capture_process(c.name), c.traced) << c.name;
    EXPECT_EQ(capture_short_name(c.name), c.short_name) << c.name;
  }
}

}  // namespace
}  // namespace corvale
