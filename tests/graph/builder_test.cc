// The builder's merge rules: what the graph keeps when the build offers the
// same node, row or edge twice, and the values it refuses to hold.
#include "graph/builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace corvale {
namespace {

TEST(GraphBuilder, DuplicateNodeKeepsTheFirstWhole) {
  GraphBuilder b;
  b.add_node("gw", "Gateway", "first", "gw", "OK", false,
             {GraphBuilder::make_item("address", "IPv4", "192.168.50.1")});
  b.add_node("gw", "Other", "second", "isp", "FAIL", true,
             {GraphBuilder::make_item("probe", "probe", "x")});
  ASSERT_EQ(b.nodes().size(), 1u);
  const GraphNode& n = b.nodes()[0];
  EXPECT_EQ(std::make_tuple(n.label, n.sub, n.kind, n.status, n.sel),
            std::make_tuple("Gateway", "first", "gw", "OK", false));
  ASSERT_EQ(n.items.size(), 1u);
  EXPECT_EQ(n.items[0].id, "address");
  EXPECT_FALSE(n.ifIndex || n.layer || n.processId || n.layoutLane);
}

TEST(GraphBuilder, RowsAddedOncePutReplaces) {
  GraphBuilder b;
  b.add_node("n", "N", "", "core", "");
  b.add_item("n", GraphBuilder::make_item("a", "k", "first"));
  b.add_item("n", GraphBuilder::make_item("a", "k", "second"));
  b.add_item("missing", GraphBuilder::make_item("a", "k", "v"));
  b.put_item("n", GraphBuilder::make_item("b", "k", "appended"));
  b.put_item("n", GraphBuilder::make_item("a", "k", "replaced"));
  b.put_item("missing", GraphBuilder::make_item("a", "k", "v"));
  ASSERT_EQ(b.nodes().size(), 1u);
  const auto& items = b.nodes()[0].items;
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].v, "replaced");  // kept its place
  EXPECT_EQ(items[1].v, "appended");
  // A duplicate row id inside the initial rows of a node is dropped too.
  b.add_node("m", "M", "", "core", "", false,
             {GraphBuilder::make_item("x", "k", "1"), GraphBuilder::make_item("x", "k", "2")});
  ASSERT_EQ(b.node("m")->items.size(), 1u);
  EXPECT_EQ(b.node("m")->items[0].v, "1");
}

TEST(GraphBuilder, EdgeMergeRules) {
  struct Case {
    const char* what;
    double first, second;
    const char *kind, *evidence;
    bool bad;
    double stored;
  };
  const Case cases[] = {
      {"stronger duplicate wins wholly", 0.45, 0.9, "main", "second", true, 0.9},
      {"equal confidence keeps the first", 0.9, 0.9, "alt", "first", false, 0.9},
      {"weaker duplicate ignored", 0.9, 0.5, "alt", "first", false, 0.9},
      {"equal after rounding keeps the first", 0.854, 0.849, "alt", "first", false, 0.85},
  };
  for (const Case& c : cases) {
    GraphBuilder b;
    b.add_edge("a", "row", "b", c.first, "alt", "first", false);
    b.add_edge("a", "row", "b", c.second, "main", "second", true);
    ASSERT_EQ(b.edges().size(), 1u) << c.what;
    const GraphEdge& e = b.edges()[0];
    EXPECT_EQ(e.kind, c.kind) << c.what;
    EXPECT_EQ(e.evidence, c.evidence) << c.what;
    EXPECT_EQ(e.bad, c.bad) << c.what;
    EXPECT_DOUBLE_EQ(e.confidence, c.stored) << c.what;
    EXPECT_FALSE(e.dead) << c.what;
  }
}

TEST(GraphBuilder, EdgeKeyIncludesTheRowAndRefusesBadEnds) {
  GraphBuilder b;
  b.add_edge("app", "default", "nic-2", 1.0, "main", "x");
  b.add_edge("app", "", "nic-2", 0.45, "alt", "y");  // another row: another edge
  b.add_edge("app", "default", "app", 1.0, "main", "self");
  b.add_edge("", "default", "nic-2", 1.0, "main", "no from");
  b.add_edge("app", "default", "", 1.0, "main", "no to");
  ASSERT_EQ(b.edges().size(), 2u);
  EXPECT_EQ(b.edges()[1].kind, "alt");
  EXPECT_NE(b.edge("app", "", "nic-2"), nullptr);
  EXPECT_EQ(b.edge("app", "default", "app"), nullptr);
}

TEST(GraphBuilder, ConfidencesRoundedAndHeldInRange) {
  struct Case {
    double in, stored;
  };
  const Case cases[] = {
      {0.857, 0.86},
      {0.8549, 0.85},
      {1.0, 1.0},
      {0.0, 0.0},
      {1.7, 1.0},
      {-0.3, 0.0},
      {std::numeric_limits<double>::quiet_NaN(), 0.0},
      {std::numeric_limits<double>::infinity(), 1.0},
      {-std::numeric_limits<double>::infinity(), 0.0},
  };
  for (const Case& c : cases) {
    GraphBuilder b;
    b.add_edge("a", "", "b", c.in, "main", "");
    ASSERT_EQ(b.edges().size(), 1u);
    EXPECT_FALSE(std::isnan(b.edges()[0].confidence)) << c.in;
    EXPECT_DOUBLE_EQ(b.edges()[0].confidence, c.stored) << c.in;
  }
  // A NaN offered later never displaces a stored value.
  GraphBuilder b;
  b.add_edge("a", "", "b", 0.4, "alt", "kept");
  b.add_edge("a", "", "b", std::numeric_limits<double>::quiet_NaN(), "main", "nan");
  EXPECT_EQ(b.edges()[0].evidence, "kept");
}

TEST(GraphBuilder, StatusThresholds) {
  EXPECT_EQ(GraphBuilder::status_of(0.8), "OK");
  EXPECT_EQ(GraphBuilder::status_of(0.79), "WARN");
  EXPECT_EQ(GraphBuilder::status_of(0.5), "WARN");
  EXPECT_EQ(GraphBuilder::status_of(0.49), "");
}

TEST(GraphBuilder, HopTraceKeepsItsCaps) {
  GraphBuilder b(GraphLimits{3, 4, 2});
  EXPECT_TRUE(b.record_hop({"a", "r", "b", "main", "", 1, "a", 0.9}));
  EXPECT_FALSE(b.record_hop({"a", "r", "b", "main", "again", 2, "a", 0.9}));  // same key
  EXPECT_TRUE(b.record_hop({"a", "r", "c", "main", "", 3, "a", 0.9}));
  EXPECT_FALSE(b.record_hop({"a", "r", "d", "main", "", 4, "a", 0.9}));  // deeper than maxDepth
  EXPECT_TRUE(b.record_hop({"b", "r", "c", "main", "", 1, "b", 0.9}));
  EXPECT_TRUE(b.record_hop({"c", "r", "d", "main", "", 1, "c", 0.9}));
  EXPECT_FALSE(b.record_hop({"d", "r", "e", "main", "", 1, "d", 0.9}));  // maxNodes records
  EXPECT_EQ(b.hops().size(), 4u);
}

TEST(GraphBuilder, FinishKeepsInsertionOrderAndLimits) {
  GraphBuilder b(GraphLimits{5, 50, 1});
  for (const char* id : {"z", "a", "m"}) b.add_node(id, id, "", "core", "");
  b.add_edge("z", "", "a", 1, "main", "");
  b.add_edge("a", "", "m", 1, "main", "");
  TopologyGraph g;
  b.finish_into(g);
  ASSERT_EQ(g.nodes.size(), 3u);
  EXPECT_EQ(g.nodes[0].id + g.nodes[1].id + g.nodes[2].id, "zam");
  EXPECT_EQ(g.edges.size(), 2u);
  EXPECT_EQ(g.limits.maxNodes, 50);
  EXPECT_EQ(g.limits.maxRepeatPerPid, 1);
}

}  // namespace
}  // namespace corvale
