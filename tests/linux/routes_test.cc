#include "linux/routes.h"

#include <gtest/gtest.h>

#include "linux/adapters.h"
#include "test_support.h"

namespace corvale {
namespace {

using testing::read_data;

NameToIndex captured_names() {
  return name_to_index(parse_ip_addr_json(read_data("linux/ip_addr.json"), {}));
}

TEST(NameToIndex, FromAdapters) {
  auto m = captured_names();
  EXPECT_EQ(m.size(), 8u);
  EXPECT_EQ(m.at("lo"), 1u);
  EXPECT_EQ(m.at("eth0"), 3u);
  EXPECT_EQ(m.at("tun0"), 8u);
  Adapter a, b;
  a.name = b.name = "eth0";
  a.if_index = 2;
  b.if_index = 7;
  EXPECT_EQ(name_to_index({a, b}).at("eth0"), 7u);
}

TEST(ParseRoutes, CapturedIpv4Table) {
  auto routes = parse_routes_json(read_data("linux/ip_route.json"), captured_names(), kFamilyV4);
  std::vector<RouteEntry> want = {
      {"0.0.0.0", "", 8, 0, kFamilyV4, 1},
      {"0.0.0.0", "10.20.30.1", 3, 100, kFamilyV4, 0},
      {"0.0.0.0", "192.168.1.1", 5, 600, kFamilyV4, 0},
      {"10.0.0.55", "10.20.30.1", 3, 0, kFamilyV4, 32},
      {"10.20.30.0", "", 3, 0, kFamilyV4, 24},
      {"128.0.0.0", "", 8, 0, kFamilyV4, 1},
      {"172.31.0.0", "", 7, 0, kFamilyV4, 30},
      {"192.168.1.0", "", 5, 0, kFamilyV4, 24},
      {"198.18.0.0", "", 8, 0, kFamilyV4, 30},
  };
  EXPECT_EQ(routes, want);
}

TEST(ParseRoutes, CapturedIpv6Table) {
  auto routes = parse_routes_json(read_data("linux/ip6_route.json"), captured_names(), kFamilyV6);
  ASSERT_EQ(routes.size(), 11u);
  EXPECT_EQ(routes[0], (RouteEntry{"2001:db8:1::", "", 3, 256, kFamilyV6, 64}));
  EXPECT_EQ(routes[1], (RouteEntry{"2400:3200::", "", 8, 5, kFamilyV6, 32}));
  EXPECT_EQ(routes[3], (RouteEntry{"fe80::", "", 2, 256, kFamilyV6, 64}));
  EXPECT_EQ(routes.back(), (RouteEntry{"::", "2001:db8:1::1", 3, 1024, kFamilyV6, 0}));
}

TEST(ParseRoutes, DeviceOutsideTheListingIsDropped) {
  auto names = captured_names();
  names.erase("wlp2s0");  // removed between the two commands
  auto routes = parse_routes_json(read_data("linux/ip_route.json"), names, kFamilyV4);
  EXPECT_EQ(routes.size(), 7u);
  for (const auto& r : routes) EXPECT_NE(r.if_index, 5u);
  EXPECT_TRUE(parse_routes_json(read_data("linux/ip_route.json"), {}, kFamilyV4).empty());
}

TEST(ParseRoutes, Destinations) {
  struct Row {
    const char* dst;
    uint16_t family;
    const char* destination;
    uint8_t prefix;
  } rows[] = {
      {"default", kFamilyV4, "0.0.0.0", 0},
      {"default", kFamilyV6, "::", 0},
      {"10.0.0.0/8", kFamilyV4, "10.0.0.0", 8},
      {"10.0.0.1", kFamilyV4, "10.0.0.1", 32},
      {"2001:db8::1", kFamilyV6, "2001:db8::1", 128},
      {"10.0.0.0/+8", kFamilyV4, "10.0.0.0", 8},
      {"10.0.0.0/255", kFamilyV4, "10.0.0.0", 255},
      {"10.0.0.0/256", kFamilyV4, "10.0.0.0", 0},
      {"10.0.0.0/-1", kFamilyV4, "10.0.0.0", 0},
      {"10.0.0.0/abc", kFamilyV4, "10.0.0.0", 0},
      {"10.0.0.0/", kFamilyV4, "10.0.0.0", 0},
      {"10.0.0.0/8/9", kFamilyV4, "10.0.0.0", 0},
      {"10.0.0.0/++8", kFamilyV4, "10.0.0.0", 0},
      {"Default", kFamilyV4, "Default", 32},
      {"", kFamilyV4, "", 32},
  };
  NameToIndex names{{"eth0", 2}};
  for (const auto& r : rows) {
    std::string json = std::string("[{\"dst\":\"") + r.dst + "\",\"dev\":\"eth0\"}]";
    auto routes = parse_routes_json(json, names, r.family);
    ASSERT_EQ(routes.size(), 1u) << r.dst;
    EXPECT_EQ(routes[0].destination, r.destination) << r.dst;
    EXPECT_EQ(routes[0].prefix_length, r.prefix) << r.dst;
    EXPECT_EQ(routes[0].family, r.family);
  }
}

TEST(ParseRoutes, HostileJson) {
  NameToIndex names{{"eth0", 2}, {"tun0", 9}};
  std::string capture = read_data("linux/ip_route.json");
  const std::string no_routes[] = {
      "",
      "[",
      "{}",
      "{\"dst\":\"default\",\"dev\":\"eth0\"}",
      "Error: ipv4: FIB table does not exist.",
      capture.substr(0, capture.size() - 3),
      std::string(100000, '['),
      "[\"eth0\", 1, null, []]",
      "[{\"dst\":\"default\"}]",
      "[{\"dst\":\"default\",\"dev\":2}]",
      "[{\"dst\":\"default\",\"dev\":\"wlan0\"}]",
  };
  for (const auto& in : no_routes)
    EXPECT_TRUE(parse_routes_json(in, names, kFamilyV4).empty()) << in.substr(0, 60);

  auto routes = parse_routes_json(R"([
      {"dst": 10, "dev": "eth0", "gateway": 5, "metric": "100"},
      {"dst": "default", "dev": "tun0", "gateway": "198.18.0.2", "metric": -1},
      {"dst": "default", "dev": "tun0", "metric": 4294967296},
      {"dst": "default", "dev": "tun0", "metric": 4294967295},
      {"dst": "default", "dev": "tun0", "metric": 7.5}])",
                                  names, kFamilyV4);
  ASSERT_EQ(routes.size(), 5u);
  EXPECT_EQ(routes[0], (RouteEntry{"", "", 2, 0, kFamilyV4, 32}));
  EXPECT_EQ(routes[1], (RouteEntry{"0.0.0.0", "198.18.0.2", 9, 0, kFamilyV4, 0}));
  EXPECT_EQ(routes[2].metric, 0u);
  EXPECT_EQ(routes[3].metric, 4294967295u);
  EXPECT_EQ(routes[4].metric, 0u);

  std::string bad_utf8 = "[{\"dst\":\"default\",\"dev\":\"eth0\",\"gateway\":\"10.0.0.1\xc3\"}]";
  routes = parse_routes_json(bad_utf8, names, kFamilyV4);
  ASSERT_EQ(routes.size(), 1u);
  EXPECT_EQ(routes[0].gateway, "10.0.0.1\uFFFD");
}

TEST(ParseRouteGet, CapturedLookups) {
  auto names = captured_names();
  struct Row {
    const char* file;
    bool v6;
    std::optional<RouteLookup> want;
  } rows[] = {
      {"linux/route_get_v4.txt", false, RouteLookup{8, std::nullopt, "198.18.0.1", kFamilyV4}},
      {"linux/route_get_v4_via.txt", false, RouteLookup{3, "10.20.30.1", "10.20.30.40", kFamilyV4}},
      {"linux/route_get_v6.txt", true,
       RouteLookup{8, std::nullopt, "fdfe:dcba:9876::1", kFamilyV6}},
      {"linux/route_get_v6_onlink.txt", true,
       RouteLookup{3, std::nullopt, "2001:db8:1::40", kFamilyV6}},
      {"linux/route_get_local.txt", false, RouteLookup{1, std::nullopt, "127.0.0.1", kFamilyV4}},
      {"linux/route_get_error.txt", false, std::nullopt},
  };
  for (const auto& r : rows)
    EXPECT_EQ(parse_route_get(read_data(r.file), names, r.v6), r.want) << r.file;
}

TEST(ParseRouteGet, FieldWalk) {
  NameToIndex names{{"eth0", 2}, {"tun0", 9}, {"via", 4}};
  struct Row {
    const char* text;
    std::optional<RouteLookup> want;
  } rows[] = {
      {"", std::nullopt},
      {"\n1.1.1.1 dev eth0", std::nullopt},  // only the first line counts
      {"1.1.1.1 via 10.0.0.1 src 10.0.0.2", std::nullopt},
      {"1.1.1.1 dev", std::nullopt},
      {"1.1.1.1 dev wlan9 src 10.0.0.2", std::nullopt},
      {"dev eth0", RouteLookup{2, std::nullopt, std::nullopt, kFamilyV4}},
      {"  1.1.1.1   dev\teth0  \r", RouteLookup{2, std::nullopt, std::nullopt, kFamilyV4}},
      {"x dev eth0 dev tun0", RouteLookup{9, std::nullopt, std::nullopt, kFamilyV4}},
      {"x via 1.1.1.1 via 2.2.2.2 dev eth0 src 3.3.3.3 src",
       RouteLookup{2, "2.2.2.2", "3.3.3.3", kFamilyV4}},
      {"x dev via eth0", RouteLookup{4, std::nullopt, std::nullopt, kFamilyV4}},
      {"1.1.1.1 dev eth0 src \xff\xfe", RouteLookup{2, std::nullopt, "\xff\xfe", kFamilyV4}},
  };
  for (const auto& r : rows) EXPECT_EQ(parse_route_get(r.text, names, false), r.want) << r.text;
  EXPECT_EQ(parse_route_get("x dev eth0", names, true)->family, kFamilyV6);
  EXPECT_FALSE(parse_route_get("x dev eth0", {}, false));
}

}  // namespace
}  // namespace corvale
