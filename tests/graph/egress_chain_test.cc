// The chain behind one route, on the direct and tun scenarios' captures.
#include <gtest/gtest.h>

#include "graph/build_context.h"
#include "graph_support.h"

namespace corvale {
namespace {

using namespace corvale::testing;

struct Built {
  TopologyGraph graph;
  std::string first;
  size_t misses = 0;
};

// One chain through a fresh builder, as the graph build calls it.
Built chain(const Facts& f, const RouteEntry& route, bool selected) {
  ProbeResults caches = warm_caches(f);
  CountingHooks counting;
  GraphHooks hooks = counting.hooks();
  GraphBuilder b;
  BuildContext ctx(f, b, caches, hooks);
  Built out;
  out.first = add_egress_chain(ctx, route, selected);
  out.misses = ctx.pings.misses() + ctx.dns.misses();
  b.finish_into(out.graph);
  return out;
}

const SocketEntry kToOneOneOneOne{"192.168.50.10", 47726, "1.1.1.1", 443, kTcpEstablished, 0};

TEST(EgressChain, GatewayWithObservedSocket) {
  Facts f = captured_host("direct");
  f.tcp_sockets.push_back(kToOneOneOneOne);
  Built c = chain(f, *f.default_route_v4, true);
  EXPECT_EQ(c.first, "nic-2");
  const GraphEdge* hop = find_edge(c.graph, "nic-2", "gw-v4-2-192.168.50.1");
  ASSERT_TRUE(hop);
  EXPECT_EQ(std::make_tuple(hop->kind, hop->confidence, hop->bad, hop->fromItem),
            std::make_tuple("main", 1.0, false, "gateway-v4-192.168.50.1"));
  const GraphEdge* isp = find_edge(c.graph, "gw-v4-2-192.168.50.1", "isp-v4-2-192.168.50.1");
  ASSERT_TRUE(isp);
  EXPECT_EQ(std::make_tuple(isp->kind, isp->confidence, isp->evidence),
            std::make_tuple("main", 1.0, "established socket beyond gateway"));
  const GraphEdge* remote = find_edge(c.graph, "isp-v4-2-192.168.50.1", "remote-1.1.1.1");
  ASSERT_TRUE(remote);
  EXPECT_EQ(remote->evidence, "passive established socket endpoint");
  EXPECT_EQ(find_item(find_node(c.graph, "nic-2"), "gateway-v4-192.168.50.1")->meta,
            "established socket");
  EXPECT_EQ(c.misses, 0u);

  // Carrier rows in their order, resolvers with their detail cards.
  std::vector<std::string> ids;
  for (const auto& i : find_node(c.graph, "nic-2")->items) ids.push_back(i.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"ipv4", "ipv6", "ifindex", "metric", "link", "dhcp",
                                           "dns-10.0.32.32", "dns-10.0.32.33",
                                           "gateway-v4-192.168.50.1"}));
  const NodeItem* dns = find_item(find_node(c.graph, "nic-2"), "dns-10.0.32.32");
  ASSERT_TRUE(dns && dns->detail);
  EXPECT_EQ(dns->k, "resolver · primary");
  EXPECT_EQ(dns->detail->kind, "dns");
  EXPECT_EQ(dns->detail->items[1].v, "203.0.113.80");
  EXPECT_EQ(dns->detail->items[2].v, "3 ms");
}

TEST(EgressChain, WhichSocketsCountAsObserved) {
  struct Case {
    uint8_t state;
    const char* evidence;
  };
  const Case cases[] = {
      {kTcpEstablished, "established socket beyond gateway"},
      {6, "established socket beyond gateway"},  // TIME-WAIT: it was established
      {3, "active internet probe"},              // SYN-SENT proves nothing
  };
  for (const Case& c : cases) {
    Facts f = captured_host("direct");
    SocketEntry s = kToOneOneOneOne;
    s.state = c.state;
    f.tcp_sockets.push_back(s);
    // A socket to a loopback peer says nothing about the gateway.
    f.tcp_sockets.push_back({"192.168.50.10", 1, "127.0.0.1", 2, kTcpEstablished, 0});
    Built b = chain(f, *f.default_route_v4, true);
    EXPECT_EQ(find_edge(b.graph, "gw-v4-2-192.168.50.1", "isp-v4-2-192.168.50.1")->evidence,
              c.evidence)
        << int(c.state);
  }
}

TEST(EgressChain, GatewayWithOnlyAProbe) {
  Facts ok = captured_host("direct");
  Built c = chain(ok, *ok.default_route_v4, true);
  const GraphEdge* isp = find_edge(c.graph, "gw-v4-2-192.168.50.1", "isp-v4-2-192.168.50.1");
  ASSERT_TRUE(isp);
  EXPECT_EQ(std::make_tuple(isp->kind, isp->evidence, isp->bad),
            std::make_tuple("main", "active internet probe", false));
  EXPECT_EQ(find_node(c.graph, "isp-v4-2-192.168.50.1")->status, "OK");
}

TEST(EgressChain, SilentGatewayIsMarkedAndTheInternetNotClaimed) {
  Facts f = captured_host("offline", false);
  ProbeResults caches = warm_caches(f, false);
  CountingHooks counting;
  GraphHooks hooks = counting.hooks();
  GraphBuilder b;
  BuildContext ctx(f, b, caches, hooks);
  add_egress_chain(ctx, *f.default_route_v4, true);
  TopologyGraph g;
  b.finish_into(g);
  const GraphEdge* gw = find_edge(g, "nic-2", "gw-v4-2-192.168.50.1");
  ASSERT_TRUE(gw);
  EXPECT_TRUE(gw->bad);
  EXPECT_EQ(find_node(g, "gw-v4-2-192.168.50.1")->status, "FAIL");
  EXPECT_TRUE(find_edge(g, "gw-v4-2-192.168.50.1", "isp-v4-2-192.168.50.1")->bad);
  EXPECT_EQ(find_node(g, "isp-v4-2-192.168.50.1")->status, "FAIL");
  EXPECT_EQ(find_item(find_node(g, "isp-v4-2-192.168.50.1"), "probe")->status, "FAIL");
}

TEST(EgressChain, StandbyRouteIsAlternate) {
  Facts f = captured_host("tun");
  const RouteEntry* standby = nullptr;
  for (const auto& r : f.routes)
    if (is_default_route(r) && r.gateway == "192.168.50.1") standby = &r;
  ASSERT_TRUE(standby);
  Built c = chain(f, *standby, false);
  const GraphEdge* isp = find_edge(c.graph, "gw-v4-2-192.168.50.1", "isp-v4-2-192.168.50.1");
  ASSERT_TRUE(isp);
  EXPECT_EQ(std::make_tuple(isp->kind, isp->confidence, isp->evidence),
            std::make_tuple("alt", 0.45, "standby route candidate"));
  EXPECT_FALSE(find_node(c.graph, "nic-2")->sel);
}

TEST(EgressChain, PointToPointRouteWithoutGateway) {
  Facts f = captured_host("tun");
  ASSERT_TRUE(f.default_route_v4 && f.default_route_v4->gateway.empty());
  const RouteEntry& p2p = *f.default_route_v4;  // default dev tun0
  const std::string isp = fmt::format("isp-v4-{}-direct", p2p.if_index);
  const std::string nic = fmt::format("nic-{}", p2p.if_index);

  Built probe_only = chain(f, p2p, true);
  const GraphEdge* e = find_edge(probe_only.graph, nic, isp);
  ASSERT_TRUE(e);
  EXPECT_EQ(std::make_tuple(e->kind, e->confidence, e->evidence, e->fromItem),
            std::make_tuple("main", 1.0, "active internet probe on gateway-less carrier",
                            "gateway-v4-onlink"));
  EXPECT_EQ(find_item(find_node(probe_only.graph, nic), "gateway-v4-onlink")->v,
            "on-link / point-to-point");

  f.tcp_sockets.push_back({"198.18.0.1", 40000, "203.0.113.80", 443, kTcpEstablished, 0});
  Built seen = chain(f, p2p, true);
  EXPECT_EQ(find_edge(seen.graph, nic, isp)->evidence,
            "established socket on gateway-less carrier");
  EXPECT_EQ(find_item(find_node(seen.graph, nic), "gateway-v4-onlink")->meta,
            "established socket route");

  Built standby = chain(f, p2p, false);
  EXPECT_EQ(find_edge(standby.graph, nic, isp)->kind, "alt");
  EXPECT_EQ(find_edge(standby.graph, nic, isp)->evidence, "gateway-less route candidate");
}

}  // namespace
}  // namespace corvale
