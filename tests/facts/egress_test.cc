#include "facts/egress.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

Adapter adapter(std::string name, uint32_t index, bool up = true) {
  Adapter a;
  a.name = std::move(name);
  a.if_index = index;
  a.is_up = up;
  return a;
}

RouteEntry v4(uint32_t index, std::string gateway, uint32_t metric = 0, std::string dst = "0.0.0.0",
              uint8_t prefix = 0) {
  return {std::move(dst), std::move(gateway), index, metric, kFamilyV4, prefix};
}

RouteEntry v6(uint32_t index, std::string gateway, uint32_t metric = 0) {
  return {"::", std::move(gateway), index, metric, kFamilyV6, 0};
}

RouteLookup lookup(uint32_t index, std::optional<std::string> via, uint16_t family = kFamilyV4) {
  return {index, std::move(via), std::nullopt, family};
}

const std::vector<Adapter> kAdapters = {adapter("lo", 1), adapter("eth0", 2), adapter("wlan0", 3),
                                        adapter("tun0", 9)};

TEST(DeriveEgress, LookupPicksRouteOfItsInterfaceAndGateway) {
  std::vector<RouteEntry> routes = {v4(3, "192.168.0.1", 600), v4(2, "10.0.0.254", 100),
                                    v4(2, "10.0.0.1", 100), v4(2, "10.0.0.1", 50, "10.0.0.0", 24)};
  auto e = derive_egress(kAdapters, routes, lookup(2, "10.0.0.1"), std::nullopt);
  ASSERT_TRUE(e.egress_v4_adapter);
  EXPECT_EQ(e.egress_v4_adapter->name, "eth0");
  ASSERT_TRUE(e.default_route_v4);
  EXPECT_EQ(*e.default_route_v4, routes[2]);
  EXPECT_EQ(e.default_gateway_v4, "10.0.0.1");
  EXPECT_FALSE(e.default_route_v6);
  EXPECT_FALSE(e.default_gateway_v6);
}

TEST(DeriveEgress, LookupWithoutViaTakesFirstRouteOfItsInterface) {
  std::vector<RouteEntry> routes = {v4(2, "10.0.0.1", 100), v4(9, "", 0), v4(9, "198.18.0.2", 0)};
  auto e = derive_egress(kAdapters, routes, lookup(9, std::nullopt), std::nullopt);
  ASSERT_TRUE(e.default_route_v4);
  EXPECT_EQ(*e.default_route_v4, routes[1]);
  EXPECT_FALSE(e.default_gateway_v4);  // device route, no gateway
  EXPECT_EQ(e.egress_v4_adapter->name, "tun0");
}

TEST(DeriveEgress, LookupThatMatchesNoDefaultRouteLeavesItAbsent) {
  std::vector<RouteEntry> routes = {v4(2, "10.0.0.1")};
  auto other_gateway = derive_egress(kAdapters, routes, lookup(2, "10.0.0.9"), std::nullopt);
  EXPECT_FALSE(other_gateway.default_route_v4);
  EXPECT_TRUE(other_gateway.egress_v4_adapter);
  auto unknown_index = derive_egress(kAdapters, routes, lookup(42, std::nullopt), std::nullopt);
  EXPECT_FALSE(unknown_index.default_route_v4);
  EXPECT_FALSE(unknown_index.egress_v4_adapter);
}

TEST(DeriveEgress, WithoutLookupLowestMetricWinsAndTiesKeepOrder) {
  std::vector<RouteEntry> routes = {
      v4(3, "192.168.0.1", 600), v4(2, "10.0.0.1", 100), v4(9, "", 100),
      v6(3, "fe80::1", 1024),    v6(2, "fe80::2", 256),  v6(9, "::", 256)};
  auto e = derive_egress(kAdapters, routes, std::nullopt, std::nullopt);
  EXPECT_EQ(*e.default_route_v4, routes[1]);
  EXPECT_EQ(e.default_gateway_v4, "10.0.0.1");
  EXPECT_EQ(*e.default_route_v6, routes[4]);
  EXPECT_EQ(e.default_gateway_v6, "fe80::2");
  EXPECT_FALSE(e.egress_v4_adapter);
}

TEST(DeriveEgress, UnspecifiedGatewaysAreNoGateways) {
  std::vector<RouteEntry> routes = {v4(2, "0.0.0.0"), v6(2, "::")};
  auto e =
      derive_egress(kAdapters, routes, lookup(2, std::nullopt), lookup(2, std::nullopt, kFamilyV6));
  EXPECT_TRUE(e.default_route_v4);
  EXPECT_TRUE(e.default_route_v6);
  EXPECT_FALSE(e.default_gateway_v4);
  EXPECT_FALSE(e.default_gateway_v6);
}

TEST(DeriveEgress, EmptyInputsGiveNothing) {
  auto e = derive_egress({}, {}, std::nullopt, std::nullopt);
  EXPECT_FALSE(e.egress_v4_adapter || e.default_route_v4 || e.default_route_v6 ||
               e.default_gateway_v4 || e.default_gateway_v6);
}

Facts carrier_facts() {
  Facts f;
  f.adapters = {adapter("wlan0", 3), adapter("eth0", 2), adapter("eth1", 4, false),
                adapter("tun0", 9)};
  f.adapters[1].dns_servers = {"10.0.0.53", "1.1.1.1"};
  for (uint32_t i : {2u, 3u, 4u}) f.assessments_by_index[i].verdict = AdapterVerdict::kCarrier;
  f.assessments_by_index[9].verdict = AdapterVerdict::kTunnel;
  return f;
}

TEST(PhysicalCandidates, CarriersWithDefaultRoutesSortedPerFamilyV4First) {
  Facts f = carrier_facts();
  f.routes = {v6(2, "fe80::1"),
              v4(3, "192.168.0.1"),
              v4(2, "10.0.0.1"),
              v4(2, "10.0.0.1"),
              v4(4, "10.9.9.1"),
              v4(9, ""),
              v4(2, "", 0, "10.0.0.0", 24)};
  auto c = physical_candidates(f);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].adapter, "eth0");
  EXPECT_EQ(c[0].gateway, "10.0.0.1");
  EXPECT_EQ(c[0].dns, "10.0.0.53, 1.1.1.1");
  EXPECT_EQ(c[0].family, kFamilyV4);
  EXPECT_EQ(c[1].adapter, "wlan0");
  EXPECT_EQ(c[2].family, kFamilyV6);
  EXPECT_EQ(c[2].gateway, "fe80::1");
  EXPECT_EQ(physical_gateway(c, kFamilyV4), "10.0.0.1");
  EXPECT_EQ(physical_gateway(c, kFamilyV6), "fe80::1");
}

TEST(PhysicalCandidates, GatewayTakenFromFirstCandidateThatHasOne) {
  Facts f = carrier_facts();
  f.routes = {v4(2, "0.0.0.0"), v4(3, "192.168.0.1"), v6(2, "")};
  auto c = physical_candidates(f);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].gateway, "");
  EXPECT_EQ(physical_gateway(c, kFamilyV4), "192.168.0.1");
  EXPECT_FALSE(physical_gateway(c, kFamilyV6));
  EXPECT_FALSE(physical_gateway({}, kFamilyV4));
}

}  // namespace
}  // namespace corvale
