#include "facts/proxy_config_text.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

TEST(ConfigComments, AreDropped) {
  EXPECT_EQ(without_comment_lines("a: 1\n  # b: 2\n;c\n//d\ne: f # g\n"), "a: 1\ne: f # g\n");
  EXPECT_EQ(without_comment_lines(""), "");
}

TEST(ConfigText, EndpointsFromHostileBytes) {
  struct Case {
    std::string raw;
    std::vector<ProxyEndpoint> want;
  };
  const std::string src = "config:/etc/clash/c.yaml";
  std::vector<Case> cases = {
      {"", {}},
      // Invalid UTF-8 and NUL bytes around an endpoint do not hide it.
      {std::string("\xff\xfe\0 127.0.0.1:1080\n", 18), {{src, "127.0.0.1", "", 1080}}},
      // Windows line ends: the commented line stays out.
      {"# 127.0.0.1:9050\r\nproxy: http://127.0.0.1:8118\r\n", {{src, "127.0.0.1", "http", 8118}}},
      // Only comments, or a line that is nothing but a comment marker.
      {"#\n;\n//\n  # http://127.0.0.1:3128", {}},
  };
  for (const auto& c : cases) {
    std::vector<ProxyEndpoint> got;
    config_text_endpoints(c.raw, "/etc/clash/c.yaml", got);
    EXPECT_EQ(got, c.want) << c.raw;
  }
}

}  // namespace
}  // namespace corvale

namespace corvale {
namespace {

// Real shapes: Clash Verge Rev's runtime file, a mihomo file with listeners,
// DNS and rules, a sing-box file with inbounds and clash_api.
TEST(ConfigText, KnownCoresYieldOnlyListenersAndControllers) {
  struct Case {
    std::string name, raw;
    std::vector<ProxyEndpoint> want, controllers;
  };
  const std::string src = "config:/etc/clash/c.yaml";
  std::vector<Case> cases = {
      {"verge runtime, TCP controller off",
       "mixed-port: 7897\nsocks-port: 7898\nport: 7899\nredir-port: 7895\ntproxy-port: 7896\n"
       "allow-lan: false\nexternal-controller: \"\"\n"
       "external-controller-unix: /tmp/verge/verge-mihomo.sock\nsecret: set-your-secret\n"
       "tun:\n  enable: true\n  device: Mihomo\n  dns-hijack:\n    - any:53\n"
       "dns:\n  enable: true\n  listen: 0.0.0.0:1053\n  fake-ip-range: 198.18.0.1/16\n"
       "  nameserver:\n    - 223.5.5.5:53\n"
       "proxies:\n  - {name: a, type: ss, server: 203.0.113.9, port: 8388}\n"
       "rules:\n  - IP-CIDR,10.0.0.1/32,DIRECT\n  - DST-PORT,8080,DIRECT\n",
       {{src, "127.0.0.1", "", 7897},
        {src, "127.0.0.1", "socks5", 7898},
        {src, "127.0.0.1", "http", 7899},
        {src, "127.0.0.1", "", 7895},
        {src, "127.0.0.1", "", 7896}},
       {{src, "/tmp/verge/verge-mihomo.sock", "unix", 0}}},
      {"listeners block, bind address, controller on all addresses",
       "bind-address: 127.0.0.2\nmixed-port: 7890 # the one port\n"
       "external-controller: 0.0.0.0:9090\n"
       "listeners:\n  - name: in-socks\n    type: socks\n    port: 10808\n    listen: 127.0.0.1\n"
       "  - {name: bad}\n  - name: in-http\n    type: http\n    port: 10809\n"
       "dns:\n  listen: 127.0.0.1:53\n",
       {{src, "127.0.0.2", "", 7890},
        {src, "127.0.0.1", "socks5", 10808},
        {src, "127.0.0.1", "http", 10809}},
       {{src, "127.0.0.1", "", 9090}}},
      {"sing-box inbounds and clash_api",
       R"({"log":{},"dns":{"servers":[{"address":"8.8.8.8:53"}]},
           "inbounds":[{"type":"tun","inet4_address":"172.19.0.1/30"},
                       {"type":"mixed","listen":"::","listen_port":2080},
                       {"type":"socks","listen":"127.0.0.1","listen_port":"x"},
                       {"type":"http","listen":"127.0.0.1","listen_port":2081}],
           "outbounds":[{"type":"shadowsocks","server":"203.0.113.9","server_port":8388}],
           "experimental":{"clash_api":{"external_controller":"127.0.0.1:9090","secret":"s"}}})",
       {{src, "127.0.0.1", "", 2080}, {src, "127.0.0.1", "http", 2081}},
       {{src, "127.0.0.1", "", 9090}}},
      // Not a core's file: the generic extraction still reads it.
      {"plain proxy file",
       "export http_proxy=http://127.0.0.1:3128\n",
       {{src, "127.0.0.1", "http", 3128}},
       {}},
      {"hostile ports", "mixed-port: 99999\nsocks-port: -1\nport: abc\nproxies:\n", {}, {}},
      {"broken JSON is no core", "{\"inbounds\": [", {}, {}},
  };
  for (const auto& c : cases) {
    std::vector<ProxyEndpoint> got, controllers;
    config_text_endpoints(c.raw, "/etc/clash/c.yaml", got, &controllers);
    EXPECT_EQ(got, c.want) << c.name;
    EXPECT_EQ(controllers, c.controllers) << c.name;
  }
}

}  // namespace
}  // namespace corvale
