#include "stages/collect.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

TEST(OsName, PrettyNameOrLinux) {
  EXPECT_EQ(parse_os_name("NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
            "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(parse_os_name("PRETTY_NAME=Arch Linux  \n"), "Arch Linux");
  EXPECT_EQ(parse_os_name("NAME=Debian\n# PRETTY_NAME=\"x\"\n"), "Linux");
  EXPECT_EQ(parse_os_name(""), "Linux");
  EXPECT_EQ(parse_os_name("PRETTY_NAME=\"\xFF\"\n"), "\xFF");  // decoded by the caller
}

Adapter adapter(uint32_t index, std::string v4, std::string v6) {
  Adapter a;
  a.if_index = index;
  a.ipv4_addresses = {{std::move(v4), 24}};
  a.ipv6_addresses = {{std::move(v6), 64}};
  return a;
}

TEST(RouteSource, MismatchOnlyWhenBothIndexesKnownAndDifferent) {
  std::vector<Adapter> adapters = {adapter(2, "192.168.50.10", "2001:db8::10"),
                                   adapter(4, "198.18.0.1", "fdfe::1")};
  struct Case {
    bool connected;
    std::string source;
    uint32_t route_index;
    uint32_t want_socket;
    bool want_mismatch;
  } cases[] = {
      {true, "192.168.50.10", 4, 2, true},  // routed to tun0, left through enp3s0
      {true, "198.18.0.1", 4, 4, false},
      {true, "2001:db8::10", 2, 2, false},
      {true, "10.9.9.9", 4, 0, false},       // nobody owns the source
      {true, "192.168.50.10", 0, 2, false},  // no route lookup
      {false, "", 4, 0, false},
  };
  for (const auto& c : cases) {
    RouteSourceProbe p = route_source_result(c.connected, c.source, c.route_index, adapters);
    EXPECT_EQ(p.socket_if_index, c.want_socket) << c.source;
    EXPECT_EQ(p.mismatch, c.want_mismatch) << c.source;
    EXPECT_EQ(p.route_if_index, c.route_index);
  }
}

TEST(GatewayTargets, ConventionalDefaultGatewaysV4First) {
  std::vector<RouteEntry> routes = {
      {"::", "fe80::1", 2, 100, kFamilyV6, 0},
      {"0.0.0.0", "192.168.50.1", 2, 100, kFamilyV4, 0},
      {"0.0.0.0", "", 4, 10, kFamilyV4, 0},               // gateway-less tunnel route
      {"0.0.0.0", "192.168.50.1", 3, 600, kFamilyV4, 0},  // same gateway again
      {"10.0.0.0", "10.0.0.1", 2, 0, kFamilyV4, 8},       // not a default route
      {"::", "::", 2, 0, kFamilyV6, 0},
      {"::", "2001:db8::1", 2, 0, kFamilyV6, 0},
  };
  auto t = gateway_targets(routes);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].gateway, "192.168.50.1");
  EXPECT_EQ(t[0].family, kFamilyV4);
  EXPECT_EQ(t[1].gateway, "fe80::1%2");
  EXPECT_EQ(t[1].if_index, 2u);
  EXPECT_EQ(t[2].gateway, "2001:db8::1");
  EXPECT_FALSE(t[0].ok);
}

}  // namespace
}  // namespace corvale
