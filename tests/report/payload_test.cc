#include "report/payload.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "graph_fixtures.h"
#include "util/text.h"

namespace corvale {
namespace {

using Json = nlohmann::ordered_json;
using testing::item;
using testing::node;

std::vector<std::string> keys_of(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& [k, v] : object.items()) keys.push_back(k);
  return keys;
}

TopologyGraph sample_graph() {
  TopologyGraph g;
  g.interception.level = InterceptionLevel::kPossible;
  g.interception.displayLevel = InterceptionLevel::kPossible;
  g.interception.score = 0.45;
  g.interception.signals = {"fake-ip DNS", "loopback DNS"};
  g.interception.driverHits = 2;
  g.interception.routeSourceMismatch = true;

  GraphNode app = node("app", "Applications", "local", "source");
  NodeItem inventory = item("adapter-inventory", "adapters", "3");
  inventory.detail = std::make_shared<ItemDetail>();
  inventory.detail->label = "Adapters";
  inventory.detail->kind = "adapter";
  inventory.detail->items.push_back(item("if-2", "eth0", "UP"));
  app.items = {item("default", "route", "0.0.0.0/0", "out"), inventory};
  g.nodes.push_back(app);

  GraphNode tun = node("tun-7-l2", "Meta", "tunnel", "tun");
  tun.status = "OK";
  tun.sel = true;
  tun.ifIndex = 7;
  tun.layer = 2;
  tun.processId = 4242;
  tun.layoutLane = "evidence";
  g.nodes.push_back(tun);

  GraphEdge edge;
  edge.from = "app";
  edge.fromItem = "default";
  edge.to = "tun-7-l2";
  edge.kind = "main";
  edge.confidence = 1.0;
  edge.evidence = "OS selected default route";
  g.edges.push_back(edge);
  return g;
}

TEST(GraphPayload, KeysInWireOrderAndValuesReadBack) {
  TopologyGraph g = sample_graph();
  Json j = Json::parse(graph_payload_json(g));
  EXPECT_EQ(keys_of(j),
            (std::vector<std::string>{"version", "profile", "evidenceModel", "interception",
                                      "tcpSnapshots", "limits", "nodes", "edges"}));
  EXPECT_EQ(keys_of(j["interception"]),
            (std::vector<std::string>{"level", "displayLevel", "score", "signals",
                                      "proxyLikeListeners", "proxyCandidateProcesses",
                                      "protocolProxyListeners", "protocolProxyProcesses",
                                      "driverHits", "serviceHits", "routeSourceMismatch"}));
  EXPECT_EQ(keys_of(j["limits"]),
            (std::vector<std::string>{"maxDepth", "maxNodes", "maxRepeatPerPid"}));
  EXPECT_EQ(j["version"].get<double>(), 5.2);
  EXPECT_EQ(j["profile"], g.profile);
  EXPECT_EQ(j["evidenceModel"], g.evidenceModel);
  EXPECT_EQ(j["tcpSnapshots"], 3);
  EXPECT_EQ(j["limits"]["maxNodes"], g.limits.maxNodes);
  EXPECT_EQ(j["interception"]["driverHits"], 2);
  EXPECT_EQ(j["interception"]["routeSourceMismatch"], true);
  EXPECT_EQ(j["interception"]["signals"][1], "loopback DNS");

  const Json& app = j["nodes"][0];
  EXPECT_EQ(keys_of(app),
            (std::vector<std::string>{"id", "label", "sub", "kind", "status", "sel", "items"}));
  EXPECT_EQ(keys_of(app["items"][0]), (std::vector<std::string>{"id", "k", "v", "status", "meta",
                                                                "role", "probe", "detail"}));
  EXPECT_TRUE(app["items"][0]["detail"].is_null());
  const Json& detail = app["items"][1]["detail"];
  EXPECT_EQ(keys_of(detail), (std::vector<std::string>{"label", "sub", "kind", "status", "items"}));
  EXPECT_EQ(detail["items"][0]["id"], "if-2");
  EXPECT_TRUE(detail["items"][0]["detail"].is_null());

  const Json& tun = j["nodes"][1];
  EXPECT_EQ(keys_of(tun),
            (std::vector<std::string>{"id", "label", "sub", "kind", "status", "sel", "items",
                                      "ifIndex", "layer", "processId", "layoutLane"}));
  EXPECT_EQ(tun["processId"], 4242);
  EXPECT_EQ(tun["sel"], true);

  EXPECT_EQ(keys_of(j["edges"][0]),
            (std::vector<std::string>{"from", "fromItem", "to", "kind", "dead", "bad", "confidence",
                                      "evidence"}));
}

TEST(GraphPayload, EmptyGraphIsTheFullObjectNotTheFallback) {
  std::string p = graph_payload_json(TopologyGraph{});
  EXPECT_NE(p, kEmptyPayload);
  EXPECT_NE(p.find(R"("nodes":[],"edges":[]})"), std::string::npos);
}

// Compact output: byte for byte what a reference serialiser writes for the
// same tree, so no stray space, newline or reordered key can slip in.
TEST(GraphPayload, CompactLikeAReferenceWriter) {
  for (const TopologyGraph& g : {TopologyGraph{}, sample_graph()}) {
    std::string p = graph_payload_json(g);
    EXPECT_EQ(Json::parse(p).dump(), p);
  }
}

TEST(GraphPayload, Doubles) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {1.0, "1.0"},
      {0.0, "0.0"},
      {0.86, "0.86"},
      {5.2, "5.2"},
      {-3.0, "-3.0"},
      {1e300, "1e+300"},
      {0.1 + 0.2, "0.30000000000000004"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& c : cases) {
    std::string out;
    append_json_double(out, c.value);
    EXPECT_EQ(out, c.text) << c.value;
    if (std::isfinite(c.value)) {
      EXPECT_EQ(Json::parse(out).get<double>(), c.value);
    }
  }
  TopologyGraph g = sample_graph();
  g.edges[0].confidence = std::nan("");
  EXPECT_NE(graph_payload_json(g).find(R"("confidence":null)"), std::string::npos);
  g.edges[0].confidence = 1;
  EXPECT_NE(graph_payload_json(g).find(R"("confidence":1.0,)"), std::string::npos);
}

TEST(GraphPayload, Strings) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", R"("plain")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\n\r\t\b\f", R"("\n\r\t\b\f")"},
      {std::string("\x01\x1f", 2), R"("\u0001\u001f")"},
      {std::string("nul\0x", 5), R"("nul\u0000x")"},
      {"以太网 2", "\"以太网 2\""},
      {"a/b <b> x<y", R"("a/b <b> x<y")"},
      {"</script><script>alert(1)</script>", R"("<\/script><script>alert(1)<\/script>")"},
      {"<!--<script>", R"("\u003c!--<script>")"},
      {"line\u2028sep\u2029", R"("line\u2028sep\u2029")"},
      {"bad \xff\xfe byte", "\"bad \xEF\xBF\xBD\xEF\xBF\xBD byte\""},
      {"cut \xe4\xbb", "\"cut \xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"surrogate \xed\xa0\x80", "\"surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) {
    std::string out;
    append_json_string(out, c.in);
    EXPECT_EQ(out, c.out) << c.in;
    // Every form reads back as a JSON string; valid input reads back unchanged.
    Json back = Json::parse(out);
    ASSERT_TRUE(back.is_string());
    if (is_valid_utf8(c.in)) {
      EXPECT_EQ(back.get<std::string>(), c.in);
    }
  }
}

TEST(GraphPayload, HostileLabelCannotLeaveTheScriptElement) {
  TopologyGraph g = sample_graph();
  g.nodes[0].label = "</script><img src=x onerror=alert(1)>";
  g.nodes[0].items[0].v = "<!--<script>";
  g.edges[0].evidence = "</SCRIPT >";
  std::string p = graph_payload_json(g);
  EXPECT_EQ(p.find("</"), std::string::npos);
  EXPECT_EQ(p.find("<!--"), std::string::npos);
  Json j = Json::parse(p);
  EXPECT_EQ(j["nodes"][0]["label"], g.nodes[0].label);
  EXPECT_EQ(j["nodes"][0]["items"][0]["v"], "<!--<script>");
  EXPECT_EQ(j["edges"][0]["evidence"], "</SCRIPT >");
}

// The viewer shows what the payload holds: a name that would reorder its
// line or drive a terminal reaches it in the console's visible form.
TEST(GraphPayload, ControlAndBidiCharactersAreShownVisibly) {
  TopologyGraph g = sample_graph();
  g.nodes[0].label = "trojan\u202eexe.sh";
  g.nodes[0].items[0].v = "a\x1b[2Jb\tc";
  g.interception.signals = {"sig\u2066nal"};
  Json j = Json::parse(graph_payload_json(g));
  EXPECT_EQ(j["nodes"][0]["label"], "trojan\\u202eexe.sh");
  EXPECT_EQ(j["nodes"][0]["items"][0]["v"], "a\\x1b[2Jb\\x09c");
  EXPECT_EQ(j["interception"]["signals"][0], "sig\\u2066nal");
}

// A detail that contains itself must not recurse without end.
TEST(GraphPayload, SelfNestedDetailIsCutOff) {
  TopologyGraph g = sample_graph();
  NodeItem& inventory = g.nodes[0].items[1];
  inventory.detail->items.push_back(inventory);
  Json j = Json::parse(graph_payload_json(g));
  int depth = 0;
  for (const Json* d = &j["nodes"][0]["items"][1]["detail"]; !d->is_null();
       d = &(*d)["items"][1]["detail"])
    ++depth;
  EXPECT_EQ(depth, 16);
  inventory.detail->items.clear();  // break the cycle so the graph can be freed
}

TEST(GraphPayload, JsonWithGraphAppendsThePayloadAsLastKey) {
  TopologyGraph g = sample_graph();
  std::string payload = graph_payload_json(g);
  std::string merged = json_with_graph("{\n  \"hostname\": \"h\",\n  \"z\": 1\n}\n", payload);
  Json j = Json::parse(merged);
  EXPECT_EQ(keys_of(j), (std::vector<std::string>{"hostname", "z", "graph"}));
  EXPECT_EQ(j["graph"], Json::parse(payload));
  EXPECT_EQ(keys_of(j["graph"]["nodes"][1]), keys_of(Json::parse(payload)["nodes"][1]));
  // A copy that failed to build stays as it was.
  EXPECT_EQ(json_with_graph("{}\n", "not json"), "{}\n");
  EXPECT_EQ(json_with_graph("[1]", payload), "[1]");
}

}  // namespace
}  // namespace corvale
