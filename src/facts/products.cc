#include "facts/products.h"

#include <fmt/format.h>

namespace corvale {

const ProductPatterns& product_patterns() {
  static const ProductPatterns table{
      .known_identity = static_regex(
          R"((?i)(mihomo|clash|verge|v2ray|xray|sing[- ]?box|shadowsocks|ssr|trojan|naive|hysteria|tun2socks|openvpn|wireguard|tailscale|zerotier|gost|proxifier|hiddify|surge))"),
      .generic_identity = static_regex(R"((?i)(vpn|proxy|tunnel|socks|redirect))"),
      .interactive_app = static_regex(
          R"((?i)(^|[\\/\s])(chrome|msedge|firefox|steam|steamwebhelper|epicgameslauncher|battle\.net|discord|qq|weixin|wechat|teams|spotify|onedrive|outlook|winword|excel|powerpnt|code|devenv)(?:\.exe)?(?:$|[\\/\s]))"),
      .proxy_core = static_regex(
          R"((?i)(mihomo|clash|verge-mihomo|sing[- ]?box|singbox|xray|v2ray|gost|trojan|hysteria|naive|shadowsocks|ssr|tun2socks|wireguard|openvpn|tailscale|zerotier|proxy|tunnel))"),
      .controller_core = static_regex("(?i)mihomo|clash|verge-mihomo|sing-?box"),
      .gui_front_end = static_regex(
          "(?i)^(clash-verge(-service)?|clash-nyanpasu|mihomo-party|flclash|clash-for-windows|"
          "nekoray|gui-for-clash|gui-for-singbox)$"),
      .singbox_core = static_regex("(?i)sing-?box"),
      .proxy_process_name = static_regex(
          "clash|mihomo|verge|v2ray|xray|sing-box|singbox|shadowsocks|ssr|trojan|naive|"
          "hysteria|tun2socks|openvpn|wireguard|tailscale|zerotier|frpc|frps|natfrp|gost|"
          "proxifier|netch|qv2ray|hiddify|surge|nordvpn|expressvpn|windscribe"),
      .product_service = static_regex(
          "(?i)(wintun|windivert|tap0901|tap-windows|wireguard|openvpn|openconnect|tun2socks|"
          "tailscale|zerotier|mihomo|clash|sing.?box|v2ray|xray|hysteria|shadowsocks|trojan|naive|"
          "gost|proxifier|hiddify|warp-svc)"),
      .config_folder = static_regex(
          R"((?i)(clash|mihomo|verge|v2ray|xray|sing.?box|shadowsocks|ssr|trojan|hysteria|gost|naive|proxy|tunnel))"),
      .tunnel_adapter = static_regex(
          R"((?i)\b(TUN|TAP|Wintun|WireGuard|Tailscale|ZeroTier|OpenVPN|VPN|Mihomo|Clash|sing[- ]?box|v2ray|xray|tun2socks|WinDivert|redirect|packet[ -]?filter)\b|tap0901)"),
      .capture_process = static_regex(
          "(?i)^(mihomo|verge-mihomo|clash|sing-box|singbox|xray|v2ray|gost|hysteria|trojan|"
          "wireguard|openvpn|tailscale|zerotier|hiddify|surge|nordvpn|expressvpn|windscribe)"),
      .capture_short_names =
          {
              {static_regex("(?i)mihomo"), "mihomo"},
              {static_regex("(?i)clash"), "clash"},
              {static_regex("(?i)sing-?box"), "singbox"},
              {static_regex("(?i)v2ray|xray"), "v2ray"},
              {static_regex("(?i)trojan"), "trojan"},
              {static_regex("(?i)tun2socks"), "tun2socks"},
              {static_regex("(?i)wireguard"), "wireguard"},
              {static_regex("(?i)openvpn"), "openvpn"},
              {static_regex("(?i)tailscale"), "tailscale"},
              {static_regex("(?i)hiddify"), "hiddify"},
              {static_regex("(?i)surge"), "surge"},
              {static_regex("(?i)nordvpn"), "nordvpn"},
              {static_regex("(?i)expressvpn"), "expressvpn"},
              {static_regex("(?i)windscribe"), "windscribe"},
          },
      .chain_core = static_regex("(mihomo|xray|v2ray|clash|sing-box|singbox|gost|trojan|hysteria)"),
      .chain_preferred_core =
          static_regex("(mihomo|xray|v2ray|sing-box|singbox|gost|trojan|hysteria)"),
  };
  return table;
}

std::string process_identity(const ProcessInfo& p) {
  return fmt::format("{} {} {}", p.name, p.exe_path, p.command_line);
}

bool is_proxy_core_identity(std::string_view identity) {
  const ProductPatterns& p = product_patterns();
  return p.proxy_core.is_match(identity) &&
         (!p.interactive_app.is_match(identity) || p.known_identity.is_match(identity));
}

bool is_controller_core(std::string_view identity) {
  return product_patterns().controller_core.is_match(identity);
}

bool is_singbox_core(std::string_view identity) {
  return product_patterns().singbox_core.is_match(identity);
}

bool is_gui_front_end(std::string_view name) {
  return product_patterns().gui_front_end.is_match(name);
}

bool is_proxy_process_name(std::string_view name) {
  return product_patterns().proxy_process_name.is_match(name);
}

bool is_capture_process(std::string_view name) {
  return product_patterns().capture_process.is_match(name);
}

std::string capture_short_name(std::string_view name) {
  for (const auto& [pattern, short_name] : product_patterns().capture_short_names)
    if (pattern.is_match(name)) return short_name;
  return std::string(name);
}

}  // namespace corvale
