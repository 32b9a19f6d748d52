// The product-name table: each pattern against names it must and must not take.
#include "facts/products.h"

#include <gtest/gtest.h>

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

TEST(IdentityPatterns, MatchWhatTheyShould) {
  const ProductPatterns& p = product_patterns();
  EXPECT_TRUE(p.interactive_app.is_match("Discord /opt/discord/Discord "));
  EXPECT_TRUE(p.interactive_app.is_match("code /usr/share/code/code --type=utility"));
  EXPECT_FALSE(p.interactive_app.is_match("vscode-server /srv/vscodium x"));
  EXPECT_TRUE(p.known_identity.is_match("sing-box"));
  EXPECT_TRUE(p.known_identity.is_match("SingBox"));
  EXPECT_TRUE(p.proxy_core.is_match("frp-tunnel"));
  EXPECT_FALSE(is_proxy_core_identity("steam /usr/bin/steam -proxy"));
  EXPECT_TRUE(is_proxy_core_identity("steam /usr/bin/steam --with clash"));
  EXPECT_EQ(process_identity({1, "n", "/p", "c a"}), "n /p c a");
}

TEST(ControllerCoreIdentity, MatchesTheMihomoFamily) {
  EXPECT_TRUE(is_controller_core("verge-mihomo /opt/verge-mihomo verge-mihomo -d x"));
  EXPECT_TRUE(is_controller_core("Clash.Meta  "));
  // sing-box serves the same controller when its clash_api is configured.
  EXPECT_TRUE(is_controller_core("sing-box /usr/bin/sing-box run"));
  EXPECT_FALSE(is_controller_core("xray /usr/bin/xray run"));
}

TEST(GuiFrontEnd, TheGuiIsNotItsCore) {
  struct Row {
    const char* name;
    bool gui;
  } rows[] = {
      {"clash-verge", true},    {"clash-verge-service", true}, {"mihomo-party", true},
      {"FlClash", true},        {"verge-mihomo", false},       {"mihomo", false},
      {"clash-verge-x", false}, {"sing-box", false},           {"", false},
  };
  for (const auto& r : rows) EXPECT_EQ(is_gui_front_end(r.name), r.gui) << r.name;
}

TEST(ProxyName, CaseSensitivePattern) {
  struct Row {
    const char* name;
    bool proxy;
  } rows[] = {
      {"mihomo", true},     {"clash", true},        {"verge-mihomo", true}, {"sing-box", true},
      {"singbox", true},    {"xray", true},         {"v2ray", true},        {"ssr-local", true},
      {"tailscaled", true}, {"openvpn", true},      {"frpc", true},         {"hysteria2", true},
      {"nordvpnd", true},   {"Clash-Verge", false}, {"Mihomo", false},      {"V2Ray", false},
      {"sing box", false},  {"firefox", false},     {"sshd", false},        {"", false},
  };
  for (const auto& r : rows) EXPECT_EQ(is_proxy_process_name(r.name), r.proxy) << r.name;
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
