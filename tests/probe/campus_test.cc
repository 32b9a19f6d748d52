#include "probe/campus.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "probe/probe.h"
#include "support/peers.h"

namespace corvale {
namespace {

using testing::http_reply;
using testing::HttpStandIn;
using testing::PeerConn;
using testing::TcpPeer;
using testing::UdpPeer;

// The portal is a remote host: a member nested deeply enough to exhaust the
// stack when rendered is left empty instead.
TEST(ParseLoginStatus, DeeplyNestedMemberIsNotRendered) {
  std::string deep = std::string(100000, '[') + std::string(100000, ']');
  CampusLoginInfo info =
      parse_login_status("{\"user_name\":\"x\",\"online_ip\":" + deep + ",\"sum_bytes\":[1,2]}");
  EXPECT_TRUE(info.recognized);
  EXPECT_EQ(info.user_name, "x");
  EXPECT_EQ(info.online_ip, "");
  EXPECT_EQ(info.sum_bytes, "[1,2]");
}

TEST(ParseLoginStatus, Shapes) {
  struct Row {
    const char* what;
    std::string body;
    CampusLoginInfo want;
  } rows[] = {
      {"padded json",
       "  jQuery11240({\"user_name\":\"s2021\",\"online_ip\":\"10.5.6.7\",\"sum_bytes\":123456789,"
       "\"sum_seconds\":3600,\"error\":\"ok\"})\n",
       {true, "s2021", "10.5.6.7", "123456789", "3600", "ok"}},
      {"json, float and text numbers",
       "{\"user_name\":\"s2021\",\"online_ip\":\"10.5.6.7\",\"sum_bytes\":1.5e9,\"sum_seconds\":"
       "\"42\"}",
       {true, "s2021", "10.5.6.7", "1500000000", "42", ""}},
      {"json, other member types",
       "{\"user_name\":\"u\",\"online_ip\":null,\"sum_bytes\":true,\"sum_seconds\":{\"a\":[1,2.5]}"
       "}",
       {true, "u", "", "true", "{\"a\":[1,2.5]}", ""}},
      {"json, empty user",
       "{\"error\":\"not_online_error\",\"user_name\":\"\"}",
       {false, "", "", "", "", "not_online_error"}},
      {"json, user not text", "{\"user_name\":12}", {}},
      {"json, broken", "{\"user_name\":\"u\"", {}},
      {"padded, not an object", "cb([1,2,3])", {}},
      {"padded, broken", "cb({\"user_name\":)", {}},
      {"comma, 9 fields",
       "s2021,1700000000,1700003600,5000,3600,,0,0,10.5.6.7",
       {true, "s2021", "10.5.6.7", "5000", "3600", ""}},
      {"comma, exactly 8 fields", "s2021,1700000000,1700003600,5000,3600,0,0,10.5.6.7", {}},
      {"plain text", "not_online_error", {}},
      {"empty", "   ", {}},
      {"invalid utf-8", "\xff\xfe\xfd", {}},
  };
  for (const auto& r : rows) {
    CampusLoginInfo got = parse_login_status(r.body);
    EXPECT_EQ(got.recognized, r.want.recognized) << r.what;
    EXPECT_EQ(got.user_name, r.want.user_name) << r.what;
    EXPECT_EQ(got.online_ip, r.want.online_ip) << r.what;
    EXPECT_EQ(got.sum_bytes, r.want.sum_bytes) << r.what;
    EXPECT_EQ(got.sum_seconds, r.want.sum_seconds) << r.what;
    EXPECT_EQ(got.error, r.want.error) << r.what;
  }
}

// A logged-out host gets an error value and no user: the value is what a
// diagnosis rests on, whatever shape the reply has.
TEST(ParseLoginStatus, KeepsTheReplysErrorValue) {
  struct Row {
    const char* what;
    std::string body;
    bool recognized;
    std::string error;
  } rows[] = {
      {"padded, logged out (captured shape)",
       "jQuery112406({\"client_ip\":\"10.5.6.7\",\"ecode\":0,\"error\":\"not_online_error\","
       "\"error_msg\":\"\",\"online_ip\":\"10.5.6.7\",\"res\":\"not_online_error\"})",
       true, "not_online_error"},
      {"json, logged out", "{\"error\":\"not_online_error\",\"user_name\":\"\"}", false,
       "not_online_error"},
      {"json, no user member", "{\"error\":\"not_online_error\"}", false, "not_online_error"},
      {"padded, online", "cb({\"error\":\"ok\",\"user_name\":\"s1\"})", true, "ok"},
      {"error not text", "{\"error\":[1],\"user_name\":\"\"}", false, "[1]"},
      {"comma list has none", "s2021,1700000000,1700003600,5000,3600,,0,0,10.5.6.7", true, ""},
      {"json broken", "{\"error\":\"not_online_error\"", false, ""},
  };
  for (const auto& r : rows) {
    CampusLoginInfo got = parse_login_status(r.body);
    EXPECT_EQ(got.recognized, r.recognized) << r.what;
    EXPECT_EQ(got.error, r.error) << r.what;
    if (r.error == "not_online_error") {
      EXPECT_EQ(got.user_name, "") << r.what;
    }
  }
}

// ---- over loopback ---------------------------------------------------------

std::string dns_reply_a(std::string_view query, uint8_t last) {
  // Echo the question, answer with one A record pointing back at it.
  std::string r(query);
  if (r.size() < 12) return r;
  r[2] = '\x81';
  r[3] = '\x80';
  r[7] = '\x01';
  r += std::string("\xC0\x0C\x00\x01\x00\x01\x00\x00\x00\x3c\x00\x04\xcb\x00\x71", 15);
  r.push_back(static_cast<char>(last));
  return r;
}

std::string portal_reply(const std::string& path) {
  if (path == "/cgi-bin/rad_user_info")
    return http_reply("200 OK", "", "s2021,1700000000,1700003600,5000,3600,0,0,0,10.5.6.7");
  return http_reply("200 OK", "Content-Type: text/html\r\n",
                    "<html><title> Campus Portal </title></html>");
}

struct CampusLab {
  std::string resolver_a = testing::fresh_loopback_v4();
  std::string resolver_b = testing::fresh_loopback_v4();
  HttpStandIn portal{portal_reply};
  UdpPeer dns_a{[](std::string_view q) { return dns_reply_a(q, 1); }, resolver_a};
  UdpPeer dns_b{[](std::string_view q) { return dns_reply_a(q, 2); }, resolver_b};

  CampusTargets targets(uint16_t api_port) const {
    CampusTargets t;
    t.portal_host = "127.0.0.1";
    t.portal_port = portal.port();
    t.api_host = "127.0.0.1";
    t.api_port = api_port;
    t.resolver_a = resolver_a;
    t.resolver_b = resolver_b;
    t.portal_timeout_ms = t.login_timeout_ms = t.dns_timeout_ms = t.api_timeout_ms = 1000;
    return t;
  }
};

TEST(CampusProbe, KindsAgainstStandIns) {
  REQUIRE_ISOLATED_NETWORK();
  CampusLab lab;
  HttpStandIn api([](const std::string&) { return http_reply("404 Not Found", "", "api"); });
  const CampusTargets t = lab.targets(api.port());

  CampusProbeResult portal = run_campus_probe(0, t);
  ASSERT_TRUE(portal.http);
  EXPECT_EQ(portal.http->status, 200);
  EXPECT_FALSE(portal.dns);
  CampusProbeResult login = run_campus_probe(1, t);
  ASSERT_TRUE(login.http);
  EXPECT_TRUE(parse_login_status(login.http->body).recognized);
  EXPECT_EQ(lab.portal.paths(), (std::vector<std::string>{"/", "/cgi-bin/rad_user_info"}));

  CampusProbeResult a = run_campus_probe(2, t), b = run_campus_probe(3, t);
  ASSERT_TRUE(a.dns && b.dns);
  EXPECT_EQ(a.dns->answer, "203.0.113.1");
  EXPECT_EQ(b.dns->answer, "203.0.113.2");
  EXPECT_FALSE(a.http);

  CampusProbeResult api_probe = run_campus_probe(4, t);
  ASSERT_TRUE(api_probe.http);
  EXPECT_EQ(api_probe.http->status, 404);
  EXPECT_EQ(api_probe.tcp_fallback, TcpFallback::kNotTried);
  EXPECT_EQ(api.accepted(), 1);

  for (int kind : {-1, 5}) {
    CampusProbeResult none = run_campus_probe(kind, t);
    EXPECT_FALSE(none.http || none.dns) << kind;
  }
}

TEST(CampusProbe, ApiFallbackWhenHttpGivesNoResponse) {
  REQUIRE_ISOLATED_NETWORK();
  CampusLab lab;
  // The port is open, but its HTTP never settles: a redirect loop exhausts
  // the redirect budget, so only the plain connect can show it is there.
  HttpStandIn loop(
      [](const std::string&) { return http_reply("302 Found", "Location: /again\r\n", ""); });
  CampusProbeResult open = run_campus_probe(4, lab.targets(loop.port()));
  EXPECT_FALSE(open.http);
  EXPECT_EQ(open.tcp_fallback, TcpFallback::kConnected);
  EXPECT_LT(open.tcp_ms, 1400u);
  // Five requests, then the fallback connect (accepted by the peer a moment later).
  for (int i = 0; i < 100 && loop.accepted() < 6; ++i) ::usleep(10000);
  EXPECT_EQ(loop.accepted(), 6);

  CampusProbeResult closed = run_campus_probe(4, lab.targets(testing::closed_port()));
  EXPECT_FALSE(closed.http);
  EXPECT_EQ(closed.tcp_fallback, TcpFallback::kFailed);
  EXPECT_EQ(closed.tcp_ms, 0u);
}

TEST(CampusProbe, NonHttpServiceFallsBackToTcp) {
  REQUIRE_ISOLATED_NETWORK();
  CampusLab lab;
  TcpPeer ssh([](PeerConn& c) { c.send("SSH-2.0-OpenSSH_9.2\r\n"); });
  CampusProbeResult r = run_campus_probe(4, lab.targets(ssh.port()));
  ASSERT_TRUE(r.http);
  EXPECT_EQ(r.http->status, 0);
  EXPECT_EQ(r.tcp_fallback, TcpFallback::kConnected);
  EXPECT_LT(r.tcp_ms, 1400u);
}

TEST(ProbeCampus, FillsReachabilityProbesAndPortalState) {
  REQUIRE_ISOLATED_NETWORK();
  CampusLab lab;
  HttpStandIn api([](const std::string&) { return http_reply("200 OK", "", "{}"); });
  const CampusTargets t = lab.targets(api.port());
  CampusProbes p = probe_campus(t);

  ASSERT_EQ(p.reachability.size(), 4u);
  const std::string order[] = {t.portal_host, t.resolver_a, t.resolver_b, t.api_host};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(p.reachability[i].host, order[i]);
    EXPECT_TRUE(p.reachability[i].ping.ok) << order[i];
  }
  ASSERT_EQ(p.probes.size(), 5u);
  EXPECT_TRUE(p.probes[2].dns && p.probes[2].dns->ok);
  EXPECT_TRUE(p.portal_ok);
  EXPECT_EQ(p.portal_title, "Campus Portal");
  EXPECT_TRUE(p.login.recognized);
  EXPECT_EQ(p.login.online_ip, "10.5.6.7");
}

TEST(ProbeCampus, NothingThereStaysNegative) {
  REQUIRE_ISOLATED_NETWORK();
  CampusTargets t;  // the real campus hosts: unroutable in an empty namespace
  t.portal_timeout_ms = t.login_timeout_ms = t.dns_timeout_ms = t.api_timeout_ms = 300;
  t.api_tcp_timeout_ms = 300;
  CampusProbes p = probe_campus(t);
  ASSERT_EQ(p.reachability.size(), 4u);
  EXPECT_EQ(p.reachability[0].host, "10.0.0.55");
  EXPECT_EQ(p.reachability[3].host, "10.0.0.54");
  for (const auto& r : p.reachability) EXPECT_FALSE(r.ping.ok) << r.host;
  ASSERT_EQ(p.probes.size(), 5u);
  EXPECT_FALSE(p.probes[0].http);
  EXPECT_EQ(p.probes[2].dns->elapsed_ms, kNoReplyMs);
  EXPECT_EQ(p.probes[4].tcp_fallback, TcpFallback::kFailed);
  EXPECT_FALSE(p.portal_ok);
  EXPECT_FALSE(p.login.recognized);
}

}  // namespace
}  // namespace corvale
