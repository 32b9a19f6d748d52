#include "facts/desktop_proxy.h"

#include <gtest/gtest.h>

#include "facts/proxy_candidates.h"
#include "facts/proxy_settings.h"
#include "support/test_data.h"

namespace corvale {
namespace {

std::string data(const std::string& name) {
  std::string text = testing::read_data("desktop_proxy/" + name);
  EXPECT_FALSE(text.empty()) << name;
  return text;
}

// What section 4 and --json carry for a desktop setting.
std::string shown(const std::optional<DesktopProxy>& d) {
  if (!d) return "absent";
  ProxySettings s;
  apply_desktop_proxy(*d, s);
  return s.desktop + "|" + (s.proxy_enabled ? "1" : "0") + "|" + s.proxy_server + "|" +
         s.proxy_override + "|" + s.auto_config_url + "|" + (s.auto_detect ? "1" : "0");
}

TEST(DesktopProxy, GsettingsCapturedAndHostile) {
  struct Row {
    std::string text;
    std::string want;
  } rows[] = {
      {data("gsettings-manual.txt"),
       "GNOME|1|http=127.0.0.1:7897;https=127.0.0.1:7897;socks=127.0.0.1:7897|"
       "localhost;127.0.0.0/8;::1;*.local||0"},
      {data("gsettings-default.txt"), "GNOME|0||localhost;127.0.0.0/8;::1||0"},
      {"org.gnome.system.proxy mode 'auto'\n"
       "org.gnome.system.proxy autoconfig-url 'http://u:pw@wpad.lan/proxy.pac'\n",
       "GNOME|0|||http://wpad.lan/proxy.pac|0"},
      {"org.gnome.system.proxy mode 'auto'\norg.gnome.system.proxy autoconfig-url ''\n",
       "GNOME|0||||1"},
      // IPv6 hosts are bracketed; a port of 0 or past 65535 names nothing.
      {"org.gnome.system.proxy mode 'manual'\norg.gnome.system.proxy.socks host '::1'\n"
       "org.gnome.system.proxy.socks port 1080\norg.gnome.system.proxy.http host 'h'\n"
       "org.gnome.system.proxy.http port 70000\norg.gnome.system.proxy.https host 'h'\n"
       "org.gnome.system.proxy.https port 0\n",
       "GNOME|1|socks=[::1]:1080|||0"},
      // A host that would add an entry of its own to the list is not taken.
      {"org.gnome.system.proxy mode 'manual'\n"
       "org.gnome.system.proxy.http host 'a;https=evil:1'\norg.gnome.system.proxy.http port 8\n"
       "org.gnome.system.proxy.https host 'u:p@h'\norg.gnome.system.proxy.https port 8\n",
       "GNOME|0||||0"},
      {"org.gnome.system.proxy mode 'manual\n", "GNOME|0||||0"},
      {"No such schema “org.gnome.system.proxy”\n", "absent"},
      {"", "absent"},
  };
  for (const auto& r : rows) EXPECT_EQ(shown(parse_gsettings_proxy(r.text)), r.want) << r.text;
}

TEST(DesktopProxy, GsettingsNeverKeepsTheStoredPassword) {
  auto d = parse_gsettings_proxy(data("gsettings-manual.txt"));
  ASSERT_TRUE(d);
  EXPECT_EQ(shown(d).find("Hunter2pw"), std::string::npos);
  EXPECT_EQ(shown(d).find("alice"), std::string::npos);
}

TEST(DesktopProxy, KioslavercForms) {
  const std::string head = "[Proxy Settings]\n";
  struct Row {
    std::string text;
    std::string want;
  } rows[] = {
      // As the proxy GUIs write it.
      {head + "ProxyType=1\nhttpProxy=http://127.0.0.1:7897\nhttpsProxy=http://127.0.0.1:7897\n"
              "socksProxy=socks://127.0.0.1:7897\nNoProxyFor=localhost,127.0.0.1,::1\n",
       "KDE|1|http=127.0.0.1:7897;https=127.0.0.1:7897;socks=127.0.0.1:7897|"
       "localhost;127.0.0.1;::1||0"},
      // As KDE's own settings page writes it: a blank between host and port.
      {"[General]\nfoo=1\n\n" + head +
           "ProxyType=1\nhttpProxy=http://127.0.0.1 7897\nsocksProxy=socks://[::1] 1080\n"
           "ftpProxy=ftp://127.0.0.1 21\n[Other]\nhttpsProxy=http://h:1\n",
       "KDE|1|http=127.0.0.1:7897;socks=[::1]:1080|||0"},
      {head + "ProxyType[$e]=1\nhttpProxy[$e]=user:pw@proxy.lan:3128/\n",
       "KDE|1|http=proxy.lan:3128|||0"},
      {head + "ProxyType=2\nProxy Config Script=http://wpad.lan/wpad.dat\n",
       "KDE|0|||http://wpad.lan/wpad.dat|0"},
      {head + "ProxyType=3\n", "KDE|0||||1"},
      // Off, environment-variable mode, and hostile values name nothing.
      {head + "ProxyType=0\nhttpProxy=http://127.0.0.1:7897\n", "KDE|0||||0"},
      {head + "ProxyType=4\nhttpProxy=HTTP_PROXY\n", "KDE|0||||0"},
      {head + "ProxyType=1\nhttpProxy=http://127.0.0.1:99999\nhttpsProxy=::1\n"
              "socksProxy=http://a;b=c:1\nftpProxy=x\nsocksProxy=[fe80::1%eth0]:9\n"
              "socksProxy=socks://[:httpPrIoxy:1]:1080\n",
       "KDE|0||||0"},
      {head + "ProxyType=banana\nhttpProxy=http://h:1\n", "KDE|0||||0"},
      {"[General]\nProxyType=1\nhttpProxy=http://h:1\n", "absent"},
      {"", "absent"},
  };
  for (const auto& r : rows) EXPECT_EQ(shown(parse_kioslaverc(r.text)), r.want) << r.text;
}

TEST(DesktopProxy, TheRunningDesktopWinsAndOffIsNoSetting) {
  DesktopProxy gnome{"GNOME", DesktopProxy::Mode::kManual, {}, {}, {}};
  DesktopProxy kde{"KDE", DesktopProxy::Mode::kAutoDetect, {}, {}, {}};
  DesktopProxy kde_off{"KDE", DesktopProxy::Mode::kOff, {}, {}, {}};
  struct Row {
    std::vector<DesktopProxy> read;
    const char* current;
    const char* want;
  } rows[] = {
      {{gnome, kde}, "KDE", "KDE"}, {{gnome, kde}, "ubuntu:GNOME", "GNOME"},
      {{kde, gnome}, "", "GNOME"},  {{gnome, kde_off}, "KDE", "GNOME"},
      {{kde_off}, "KDE", ""},       {{}, "GNOME", ""},
  };
  for (const auto& r : rows) {
    auto d = desktop_proxy_in_force(r.read, r.current);
    EXPECT_EQ(d ? d->desktop : "", r.want) << r.current;
  }
}

// The endpoints and the policy entries carry the desktop as their source.
TEST(DesktopProxy, EndpointsCarryTheDesktop) {
  ProxySettings s;
  apply_desktop_proxy(*parse_kioslaverc("[Proxy Settings]\nProxyType=1\nhttpProxy=h 3128\n"), s);
  std::vector<ProxyEndpoint> eps;
  extract_proxy_endpoints(s.proxy_server, system_proxy_source(s), eps);
  ASSERT_EQ(eps.size(), 1u);
  EXPECT_EQ(eps[0], (ProxyEndpoint{"KDE proxy", "h", "http", 3128}));
  auto policy = policy_endpoints(s, nullptr);
  ASSERT_EQ(policy.size(), 1u);
  EXPECT_EQ(policy[0].sources, std::vector<std::string>{"KDE proxy"});
}

}  // namespace
}  // namespace corvale
