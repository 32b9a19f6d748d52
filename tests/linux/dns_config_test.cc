#include "linux/dns_config.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace corvale {
namespace {

TEST(ResolvConf, CapturedStubFile) {
  EXPECT_EQ(parse_resolv_conf(testing::read_data("linux/resolv.conf")),
            (std::vector<std::string>{"127.0.0.53", "198.18.0.2", "10.0.32.32",
                                      "fdfe:dcba:9876::2 # tun DNS"}));
}

TEST(ResolvConf, Lines) {
  struct Row {
    const char* text;
    std::vector<std::string> want;
  } rows[] = {
      {"", {}},
      {"nameserver 127.0.0.53\n", {"127.0.0.53"}},
      {"nameserver 8.8.8.8\nnameserver 8.8.8.8\n", {"8.8.8.8"}},
      {"# nameserver 8.8.8.8\n;nameserver 1.1.1.1", {}},
      {"nameserver1.2.3.4", {"1.2.3.4"}},
      {"nameserver 1.1.1.1 # cloudflare", {"1.1.1.1 # cloudflare"}},
      {"Nameserver 9.9.9.9\nNAMESERVER 9.9.9.9", {}},
      {"  nameserver   9.9.9.9  \r\nnameserver\r\nnameserver   \n", {"9.9.9.9"}},
      {"nameserver 10.0.0.1\nsearch x\nnameserver ::1\nnameserver 10.0.0.1", {"10.0.0.1", "::1"}},
      {"nameservers 1.2.3.4", {"s 1.2.3.4"}},  // a prefix match; the rest is taken whole
      {"nameserver 10.0.0.\xff", {"10.0.0.\xff"}},
  };
  for (const auto& r : rows) EXPECT_EQ(parse_resolv_conf(r.text), r.want) << r.text;
}

TEST(ResolvConf, LargeFileStaysLinear) {
  std::string text;
  for (int i = 0; i < 100000; ++i)
    text += "nameserver 10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) +
            "." + std::to_string(i % 256) + "\n";
  text += text;  // every entry twice
  auto servers = parse_resolv_conf(text);
  ASSERT_EQ(servers.size(), 100000u);
  EXPECT_EQ(servers.front(), "10.0.0.0");
  EXPECT_EQ(servers.back(), "10.1.134.159");
}

// The format of `resolvectl dns`: one line per link, servers after the colon,
// DoT names after '#', ports after the address.
TEST(ResolvectlDns, CapturedFormat) {
  LinkDns want = {{"enp3s0", {"10.0.32.32", "10.0.32.33", "fe80::1%2"}},
                  {"wg0", {"10.64.0.1"}},
                  {"tailscale0", {"100.100.100.100", "9.9.9.9"}}};
  EXPECT_EQ(parse_resolvectl_dns(testing::read_data("linux/resolvectl_dns.txt")), want);
}

TEST(ResolvectlDns, HostileInput) {
  struct Row {
    const char* text;
    LinkDns want;
  } rows[] = {
      {"", {}},
      {"Failed to get global data: Unit dbus-org.freedesktop.resolve1.service not found.", {}},
      {"Link 4 (wg0) 10.64.0.1", {}},  // no colon after the name
      {"Link 4 (): 10.64.0.1", {}},
      {"Link 4 (wg0): [fd00::1", {}},  // bracket never closed
      {"Link 4 (wg0): [fd00::1]:53 10.0.0.1 10.0.0.1#x", {{"wg0", {"fd00::1", "10.0.0.1"}}}},
      {"Link 9 (we (odd)): 10.1.1.1", {{"we (odd)", {"10.1.1.1"}}}},
  };
  for (const auto& r : rows) EXPECT_EQ(parse_resolvectl_dns(r.text), r.want) << r.text;
}

TEST(ResolvectlDns, LinkServersReplaceTheGlobalList) {
  std::vector<Adapter> adapters(2);
  adapters[0].name = "enp3s0", adapters[1].name = "wg0";
  for (auto& a : adapters) a.dns_servers = {"127.0.0.53"};
  apply_link_dns(adapters, {{"wg0", {"10.64.0.1"}}, {"gone0", {"1.1.1.1"}}});
  EXPECT_EQ(adapters[0].dns_servers, (std::vector<std::string>{"127.0.0.53"}));
  EXPECT_EQ(adapters[1].dns_servers, (std::vector<std::string>{"10.64.0.1"}));
}

}  // namespace
}  // namespace corvale
