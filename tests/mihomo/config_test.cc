#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mihomo/controller.h"
#include "util/text.h"

namespace corvale {
namespace {

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> out;
  for (auto l : split_lines(text)) out.emplace_back(l);
  return out;
}

// Shaped like a config written by a Clash Verge profile, CRLF endings included.
constexpr std::string_view kConfig =
    "mixed-port: 7897\r\n"
    "allow-lan: false\r\n"
    "mode: rule\r\n"
    "log-level: info\r\n"
    "external-controller: '127.0.0.1:9097'   # verge default\r\n"
    "secret: \"s3cr3t-value\"\r\n"
    "find-process-mode: strict\r\n"
    "dns:\r\n"
    "  enable: true\r\n"
    "  stack: not-this-one\r\n"
    "tun:\r\n"
    "  enable: true\r\n"
    "  # stack: commented\r\n"
    "  stack: \"gvisor\"\r\n"
    "  device: Mihomo\r\n"
    "  auto-route: true\r\n"
    "proxies:\r\n"
    "  - name: \"HK 01\"\r\n"
    "    type: ss\r\n"
    "    server: hk1.example.net\r\n"
    "    port: 8388\r\n"
    "    cipher: aes-128-gcm\r\n"
    "    plugin-opts:\r\n"
    "      port: 9999\r\n"
    "  - name: JP-trojan\r\n"
    "    server: jp.example.net\r\n"
    "    type: trojan\r\n"
    "    port: 443\r\n"
    "  - {name: SG vmess, server: sg.example.net, port: 10086, type: vmess, uuid: x}\r\n"
    "proxy-groups:\r\n"
    "  - name: Proxy\r\n"
    "    type: select\r\n"
    "    server: not-a-proxy\r\n";

TEST(ControllerEndpoint, ParsesTheFormsCoresAccept) {
  struct Row {
    const char* text;
    bool present;
    const char* host;
    uint16_t port;
  } rows[] = {
      {":9090", true, "", 9090},
      {"0.0.0.0:9090", true, "127.0.0.1", 9090},
      {"[::]:9090", true, "127.0.0.1", 9090},
      {"  127.0.0.1:9097  ", true, "127.0.0.1", 9097},
      {"http://127.0.0.1:9090/ui/#/proxies", true, "127.0.0.1", 9090},
      {"https://[::1]:9443", true, "::1", 9443},
      {"localhost", true, "localhost", 80},
      {"127.0.0.1:0", false, "", 0},
      {"127.0.0.1:abc", false, "", 0},
      {"127.0.0.1:70000", false, "", 0},
      {"", false, "", 0},
      {"   ", false, "", 0},
      {"\\\\.\\pipe\\verge-mihomo", true, "\\\\.\\pipe\\verge-mihomo", 80},
  };
  for (const auto& r : rows) {
    auto e = parse_controller_endpoint(r.text);
    ASSERT_EQ(e.has_value(), r.present) << r.text;
    if (!e) continue;
    EXPECT_EQ(e->host, r.host) << r.text;
    EXPECT_EQ(e->port, r.port) << r.text;
  }
}

TEST(CmdlineOption, FindsShortLongEqualsAndQuotedForms) {
  struct Row {
    const char* cmdline;
    const char* name;
    std::optional<std::string> want;
  } rows[] = {
      {"/usr/bin/mihomo -d /etc/mihomo", "d", "/etc/mihomo"},
      {"mihomo --ext-ctl=127.0.0.1:9090 -f a.yaml", "ext-ctl", "127.0.0.1:9090"},
      {"mihomo -external-controller   0.0.0.0:9091", "external-controller", "0.0.0.0:9091"},
      {R"(mihomo -secret "two words" -d x)", "secret", "two words"},
      {R"(mihomo -secret "")", "secret", ""},
      {"mihomo -df /x", "d", std::nullopt},
      {"mihomo-d /x", "d", std::nullopt},
      {"mihomo -d", "d", std::nullopt},
      {"mihomo -f /etc/a.yaml -d /etc", "f", "/etc/a.yaml"},
      {"", "f", std::nullopt},
  };
  for (const auto& r : rows) EXPECT_EQ(cmdline_option(r.cmdline, r.name), r.want) << r.cmdline;
}

TEST(ConfigPath, CombinesDirectoryAndFileOptions) {
  struct Row {
    const char* cmdline;
    std::optional<std::string> want;
  } rows[] = {
      {"mihomo -d /etc/mihomo", "/etc/mihomo/config.yaml"},
      {"mihomo -d /etc/mihomo/", "/etc/mihomo/config.yaml"},
      {"mihomo -d /", "/config.yaml"},
      {"mihomo -f /srv/c.yaml -d /etc/mihomo", "/srv/c.yaml"},
      {"mihomo -d /etc/mihomo -f profiles/a.yaml", "/etc/mihomo/profiles/a.yaml"},
      {"mihomo -f profiles/a.yaml", "profiles/a.yaml"},
      {"mihomo", std::nullopt},
  };
  for (const auto& r : rows) EXPECT_EQ(config_path_from_cmdline(r.cmdline), r.want) << r.cmdline;
}

TEST(ConfigValue, ReadsTopLevelScalars) {
  auto lines = lines_of(kConfig);
  EXPECT_EQ(config_value(lines, "external-controller"), "127.0.0.1:9097");
  EXPECT_EQ(config_value(lines, "secret"), "s3cr3t-value");
  EXPECT_EQ(config_value(lines, "find-process-mode"), "strict");
  EXPECT_EQ(config_value(lines, "mixed-port"), "7897");
  EXPECT_EQ(config_value(lines, "enable"), std::nullopt);  // only nested
  EXPECT_EQ(config_value(lines, "missing"), std::nullopt);
  EXPECT_EQ(config_value({}, "secret"), std::nullopt);
}

TEST(ConfigValue, UnquotesAndDropsComments) {
  struct Row {
    const char* line;
    std::optional<std::string> want;
  } rows[] = {
      {"secret: ''", ""},
      {"secret:", ""},
      {"secret: \"a # not a comment\"  # a comment", "a # not a comment"},
      {"secret: plain#kept", "plain#kept"},
      {"secret: plain # dropped", "plain"},
      {"secret: \"unterminated", "\"unterminated"},
      {"secret   :   spaced   ", "spaced"},
      {"secret: 'x' trailing", "'x' trailing"},
      {"  secret: nested", std::nullopt},
      {"secrets: other", std::nullopt},
  };
  for (const auto& r : rows) EXPECT_EQ(config_value({r.line}, "secret"), r.want) << r.line;
  // Metacharacters in a key are literal.
  EXPECT_EQ(config_value({"aXb: 1", "a.b: 2"}, "a.b"), "2");
  // The first matching line wins.
  EXPECT_EQ(config_value({"secret: one", "secret: two"}, "secret"), "one");
}

TEST(ConfigBlocks, TunStackComesFromTheTunBlockOnly) {
  auto lines = lines_of(kConfig);
  EXPECT_EQ(parse_tun_stack(lines), "gvisor");
  EXPECT_EQ(parse_tun_stack(
                lines_of("dns:\n  stack: system\ntun:\n  enable: true\nfoo:\n  stack: mixed\n")),
            std::nullopt);
  EXPECT_EQ(parse_tun_stack(lines_of("tun: {enable: true, stack: system}\n")), std::nullopt);
  EXPECT_EQ(parse_tun_stack(lines_of("tun:\n  stack: system")), "system");  // no final newline
}

TEST(ConfigBlocks, ProxiesListEveryEntryShape) {
  auto proxies = parse_proxies(lines_of(kConfig));
  ASSERT_EQ(proxies.size(), 3u);
  EXPECT_EQ(proxies[0].name, "HK 01");
  EXPECT_EQ(proxies[0].type, "ss");
  EXPECT_EQ(proxies[0].server, "hk1.example.net");
  EXPECT_EQ(proxies[0].port, "8388");  // the nested plugin port does not override it
  EXPECT_EQ(proxies[1].name, "JP-trojan");
  EXPECT_EQ(proxies[1].type, "trojan");
  EXPECT_EQ(proxies[1].server, "jp.example.net");
  EXPECT_EQ(proxies[1].port, "443");
  EXPECT_EQ(proxies[2].name, "SG vmess");
  EXPECT_EQ(proxies[2].type, "vmess");
  EXPECT_EQ(proxies[2].server, "sg.example.net");
  EXPECT_EQ(proxies[2].port, "10086");
}

TEST(ConfigBlocks, ProxiesAtColumnZeroAndOddEntries) {
  auto proxies = parse_proxies(
      lines_of("proxies:\n"
               "- name: a\n"
               "  type: http\n"
               "  server: 10.1.1.1\n"
               "  port: 3128\n"
               "# a comment at column 0 does not end the block\n"
               "- type: socks5\n"  // no name: its fields are not given to the entry above
               "  server: stray\n"
               "- name: b\n"
               "rules:\n"
               "  - name: not-a-proxy\n"));
  ASSERT_EQ(proxies.size(), 2u);
  EXPECT_EQ(proxies[0].name, "a");
  EXPECT_EQ(proxies[0].server, "10.1.1.1");
  EXPECT_EQ(proxies[1].name, "b");
  EXPECT_EQ(proxies[1].server, "");
}

TEST(ConfigBlocks, HostileInputGivesNothingOrPartialFacts) {
  EXPECT_TRUE(parse_proxies({}).empty());
  EXPECT_TRUE(parse_proxies(lines_of("proxies:")).empty());
  // Truncated in the middle of an entry.
  auto cut = parse_proxies(lines_of("proxies:\n  - name: x\n    ty"));
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].type, "");
  // Invalid UTF-8 and a very long line do not break matching of the rest.
  std::string junk = "\xff\xfe\xc3(";
  auto lines =
      lines_of(junk + "\nsecret: " + std::string(200000, 'k') + "\nexternal-controller: :9090\n");
  EXPECT_EQ(config_value(lines, "external-controller"), ":9090");
  EXPECT_EQ(config_value(lines, "secret")->size(), 200000u);
  // Raw invalid bytes never match; decoded text (as discover_core reads it) does.
  EXPECT_EQ(parse_tun_stack(lines_of("tun:\n  stack: \xff\xfe\n")), std::nullopt);
  EXPECT_EQ(parse_tun_stack(lines_of(decode_utf8_lossy("tun:\n  stack: \xff\n"))), "\xef\xbf\xbd");
  EXPECT_TRUE(parse_proxies(lines_of("proxies:\n  - {}\n  - {type: ss}\n  - {name:}\n")).size() ==
              1);
}

TEST(RedactConfigLines, RemovesSecretsAndCredentials) {
  auto lines = redact_config_lines(lines_of(kConfig), "s3cr3t-value");
  std::string all = join(lines, "\n");
  EXPECT_EQ(all.find("s3cr3t-value"), std::string::npos);
  EXPECT_NE(all.find("secret: <redacted>"), std::string::npos);
  EXPECT_EQ(lines.size(), lines_of(kConfig).size());

  struct Row {
    const char* line;
    const char* want;
  } rows[] = {
      {"# old secret was hunter22", "# old secret was <redacted>"},
      {"  secret: nested-one", "  secret: <redacted>"},
      {"    password: \"pa ss\"  # note", "    password: <redacted>  # note"},
      {"  - {name: a, password: pw1, uuid: 'u-1', port: 1}",
       "  - {name: a, password: <redacted>, uuid: <redacted>, port: 1}"},
      {"    Private-Key: abc=", "    Private-Key: <redacted>"},
      {"    cipher: aes-128-gcm", "    cipher: aes-128-gcm"},
      {"mypassword-hint: x", "mypassword-hint: x"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(redact_config_lines({r.line}, "hunter22")[0], r.want) << r.line;
  // A plain block value may hold ',', '}' or '#': all of it goes.
  struct Row2 {
    const char* line;
    const char* want;
  } whole[] = {
      {"secret: ab,cd", "secret: <redacted>"},
      {"secret: ab}cd", "secret: <redacted>"},
      {"secret: ab#cd", "secret: <redacted>"},
      {"  password: p,w}x#y # note", "  password: <redacted>"},
      {"  - password: a,b", "  - password: <redacted>"},
      {"secret: \"unclosed, quote", "secret: <redacted>"},
      {"  - {name: b, password: \"p,w\", port: 2}", "  - {name: b, password: <redacted>, port: 2}"},
      {"  - {name: c, password: pw}", "  - {name: c, password: <redacted>}"},
  };
  for (const auto& r : whole) {
    auto got = redact_config_lines({r.line}, "")[0];
    EXPECT_EQ(got, r.want) << r.line;
  }
  // A tiny secret only masks its own key.
  auto tiny = redact_config_lines({"secret: ab", "cab: ab"}, "ab");
  EXPECT_EQ(tiny[0], "secret: <redacted>");
  EXPECT_EQ(tiny[1], "cab: ab");
}

}  // namespace
}  // namespace corvale
