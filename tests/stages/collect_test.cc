#include "stages/collect.h"

#include <gtest/gtest.h>

#include <set>

#include "main/driver.h"
#include "probe/campus.h"
#include "probe/probe.h"

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

Adapter named(uint32_t index, bool up, std::vector<std::string> dns) {
  Adapter a;
  a.if_index = index;
  a.is_up = up;
  a.dns_servers = std::move(dns);
  return a;
}

TEST(PrewarmResolvers, UpAdaptersIPv4ThenUpstreamThenCampusEachOnce) {
  struct Case {
    std::vector<Adapter> adapters;
    std::vector<std::string> upstream;
    std::vector<std::string> want;
  } cases[] = {
      {{}, {}, {"10.0.32.32", "10.0.32.33"}},
      {{named(2, true, {"10.0.32.33", "fe80::1%2", "223.5.5.5"}), named(3, false, {"9.9.9.9"}),
        named(4, true, {"223.5.5.5", "198.18.0.2"})},
       {},
       {"10.0.32.33", "223.5.5.5", "198.18.0.2", "10.0.32.32"}},
      {{named(2, true, {"127.0.0.53"})}, {}, {"127.0.0.53", "10.0.32.32", "10.0.32.33"}},
      // Behind the stub: the servers it forwards to, before the campus ones.
      {{named(2, true, {"127.0.0.53"})},
       {"192.168.50.1", "fd00::1", "10.0.32.33"},
       {"127.0.0.53", "192.168.50.1", "10.0.32.33", "10.0.32.32"}},
  };
  for (const auto& c : cases) EXPECT_EQ(prewarm_resolvers(c.adapters, c.upstream), c.want);
}

TEST(WithinTimeout, LaterRepliesCountAsNone) {
  struct Case {
    DnsProbeResult in;
    bool kept;
  } cases[] = {
      {{"203.0.113.80", 12, true}, true},
      {{"203.0.113.80", 1499, true}, true},
      {{"203.0.113.80", 1500, true}, false},
      {{"203.0.113.80", 3999, true}, false},
      {{"", 30, false}, true},  // a reply without an address is still a reply
      {{}, false},              // no reply at all
  };
  for (const auto& c : cases) {
    DnsProbeResult r = within_timeout(c.in, 1500);
    if (c.kept) {
      EXPECT_EQ(std::tie(r.answer, r.elapsed_ms, r.ok),
                std::tie(c.in.answer, c.in.elapsed_ms, c.in.ok));
    } else {
      EXPECT_EQ(std::tie(r.answer, r.elapsed_ms, r.ok),
                std::make_tuple(std::string(), kNoReplyMs, false));
    }
  }
}

// What the stage probes (Internet, campus hosts, gateways; campus resolvers
// through the campus probes, the others itself) leaves the pre-warm nothing
// to do, so no host is probed twice.
TEST(PrewarmAfterStage, FindsEveryHostAndResolverAlreadyProbed) {
  std::vector<std::vector<RouteEntry>> route_sets = {
      {},
      {{"0.0.0.0", "192.168.50.1", 2, 100, kFamilyV4, 0}, {"::", "fe80::1", 2, 100, kFamilyV6, 0}},
      {{"0.0.0.0", "", 5, 0, kFamilyV4, 0},
       {"0.0.0.0", "10.0.0.55", 2, 100, kFamilyV4, 0},  // a campus host as gateway
       {"0.0.0.0", "192.168.50.1", 2, 600, kFamilyV4, 0},
       {"::", "::", 5, 0, kFamilyV6, 0},
       {"::", "fe80::1%2", 2, 100, kFamilyV6, 0}},
  };
  for (const auto& routes : route_sets) {
    Facts f;
    f.routes = routes;
    f.adapters = {named(2, true, {"10.0.32.32", "223.5.5.5"}), named(5, true, {"198.18.0.2"})};
    const CampusTargets campus;
    ProbeResults known;
    for (const std::string& h :
         {std::string(kInternetTargetV4), std::string(kInternetTargetV6), campus.portal_host,
          campus.resolver_a, campus.resolver_b, campus.api_host})
      known.pings[h] = {};
    for (const auto& g : gateway_targets(routes)) known.pings[g.gateway] = {};
    EXPECT_EQ(ping_host_list(f, known), std::vector<std::string>{});
    for (const auto& r : prewarm_resolvers(f.adapters)) known.dns[r] = {};
    EXPECT_EQ(resolver_list(f, known), std::vector<std::string>{});
    // And without the stage's results the pre-warm would have probed them.
    EXPECT_FALSE(resolver_list(f, {}).empty());
  }
}

}  // namespace
}  // namespace corvale
