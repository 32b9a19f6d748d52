// The /connections reply read into records: a real capture of the lab's
// core, the older clash shape, and replies of the wrong shape.
#include <gtest/gtest.h>

#include "facts/runtime_process.h"
#include "mihomo/controller.h"
#include "support/test_data.h"

namespace corvale {
namespace {

using testing::read_data;

TEST(ParseConnections, CapturedReplyOfTheLabCore) {
  auto conns = parse_connections(read_data("captures/tun/mihomo_connections.json"));
  ASSERT_EQ(conns.size(), 1u);
  CoreConnection want;
  want.id = "2fae4ba6-4b84-4c09-af88-0db0882d53dc";
  want.network = "tcp";
  want.inbound_type = "HTTP";
  want.source_ip = "127.0.0.1";
  want.source_port = 60264;
  want.destination_ip = "203.0.113.80";
  want.destination_port = 443;
  want.inbound_ip = "127.0.0.1";
  want.inbound_port = 7890;
  want.inbound_name = "DEFAULT-MIXED";
  want.host = "example.org";
  want.dns_mode = "normal";
  want.process = "firefox";
  want.process_path = "/usr/lib/firefox/firefox";
  want.remote_destination = "203.0.113.80";
  want.upload = 517;
  want.start = "2026-12-08T00:35:12.839Z";
  want.chains = {"hk-01", "Proxy"};
  want.rule = "DOMAIN-SUFFIX";
  want.rule_payload = "example.org";
  EXPECT_EQ(conns[0], want);
}

TEST(ParseConnections, FieldsOfOtherCoresAndHostileValues) {
  struct Row {
    const char* metadata;
    const char* process;
    uint16_t source_port;
    uint32_t uid;
    const char* path = "";
  } rows[] = {
      // sing-box: the user's name after the executable.
      {R"j({"process":"curl","processPath":"/usr/bin/curl (alice)"})j", "curl", 0, 0,
       "/usr/bin/curl"},
      {R"j({"processPath":"/opt/a (b)/c"})j", "", 0, 0, "/opt/a (b)/c"},
      {R"j({"processPath":" (root)"})j", "", 0, 0, " (root)"},
      // Older clash cores: "processName", ports as numbers.
      {R"({"processName":"curl","process":"x","sourcePort":5000,"uid":1000})", "curl", 5000, 1000},
      {R"({"process":"curl","sourcePort":"5000"})", "curl", 5000, 0},
      {R"({"sourcePort":"70000","uid":-1})", "", 0, 0},
      {R"({"sourcePort":65536,"uid":"12"})", "", 0, 12},
      {R"({"sourcePort":"12ab","process":7})", "", 0, 0},
      {R"("not an object")", "", 0, 0},
  };
  for (const auto& r : rows) {
    auto conns =
        parse_connections(std::string(R"({"connections":[{"metadata":)") + r.metadata + "}]}");
    ASSERT_EQ(conns.size(), 1u) << r.metadata;
    EXPECT_EQ(conns[0].process, r.process) << r.metadata;
    EXPECT_EQ(conns[0].source_port, r.source_port) << r.metadata;
    EXPECT_EQ(conns[0].uid, r.uid) << r.metadata;
    EXPECT_EQ(conns[0].process_path, r.path) << r.metadata;
  }
}

TEST(ParseConnections, RepliesOfAnotherShapeGiveNothing) {
  for (const char* body : {"", "{not json", "[]", R"({"connections":{}})",
                           R"({"connections":[1,"a",null]})", R"({"connections":"x"})", "\xff\xfe"})
    EXPECT_TRUE(parse_connections(body).empty()) << body;
}

}  // namespace
}  // namespace corvale
