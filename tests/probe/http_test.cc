#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "probe/probe.h"
#include "support/peers.h"

namespace corvale {
namespace {

using testing::http_reply;
using testing::HttpStandIn;
using testing::PeerConn;
using testing::TcpPeer;
using Ms = std::chrono::milliseconds;

Ms wall_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - t);
}

TEST(ParseHttpReply, Table) {
  struct Row {
    const char* what;
    std::string raw;
    uint16_t status;
    std::string body;
    std::optional<std::string> location;
  } rows[] = {
      {"ordinary", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nhello", 200, "hello", std::nullopt},
      {"no blank line", "HTTP/1.0 204 No Content\r\nX: y\r\n", 204, "", std::nullopt},
      {"lower case, padded", "  http/1.0 302 Found  \r\n  LOCATION:   /next  \r\n\r\n", 302, "",
       "/next"},
      {"status not a number", "HTTP/1.1 abc\r\n\r\nbody", 0, "body", std::nullopt},
      {"status too large", "HTTP/1.1 70000 Big\r\n\r\n", 0, "", std::nullopt},
      {"no status line", "garbage\r\n\r\nrest", 0, "rest", std::nullopt},
      {"empty", "", 0, "", std::nullopt},
      {"first location wins", "HTTP/1.1 301 M\r\nLocation: /a\r\nLocation: /b\r\n\r\n", 301, "",
       "/a"},
      {"invalid utf-8 body",
       "HTTP/1.1 200 OK\r\n\r\n\xff"
       "ok",
       200,
       "\xef\xbf\xbd"
       "ok",
       std::nullopt},
  };
  for (const auto& r : rows) {
    HttpReply got = parse_http_reply(r.raw);
    EXPECT_EQ(got.status, r.status) << r.what;
    EXPECT_EQ(got.body, r.body) << r.what;
    EXPECT_EQ(got.location, r.location) << r.what;
  }
}

TEST(RedirectTarget, Table) {
  const HttpTarget here{"10.0.0.55", 80, "/portal/index.html?x=/y"};
  struct Row {
    std::string location;
    std::optional<HttpTarget> next;
  } rows[] = {
      {"http://10.0.0.7:8080/login?a=1", HttpTarget{"10.0.0.7", 8080, "/login?a=1"}},
      {"http://10.0.0.7", HttpTarget{"10.0.0.7", 80, "/"}},
      {"HTTP://host.example:bad/x", HttpTarget{"host.example", 80, "/x"}},
      {"http://[2001:db8::1]:8080/x", HttpTarget{"2001:db8::1", 8080, "/x"}},
      {"http://[2001:db8::1]/x", HttpTarget{"2001:db8::1", 80, "/x"}},
      {"http://user@10.0.0.7/", HttpTarget{"10.0.0.7", 80, "/"}},
      {"http://10.0.0.7?q=1", HttpTarget{"10.0.0.7", 80, "/?q=1"}},
      {"/abs/path#frag", HttpTarget{"10.0.0.55", 80, "/abs/path"}},
      {"next.html", HttpTarget{"10.0.0.55", 80, "/portal/next.html"}},
      {"https://10.0.0.55/", std::nullopt},
      {"HTTPS://10.0.0.55/", std::nullopt},
      {"//10.0.0.55/x", std::nullopt},
      {"ftp://10.0.0.55/x", std::nullopt},
      {"http://", std::nullopt},
      {"http://[2001:db8::1/x", std::nullopt},
      {"/a\rX-Injected: 1", std::nullopt},
      {"/a b", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& r : rows) EXPECT_EQ(redirect_target(here, r.location), r.next) << r.location;
  EXPECT_EQ(redirect_target({"h", 80, "noslash"}, "x"), (HttpTarget{"h", 80, "/x"}));
}

TEST(BuildHttpRequest, LinesAndHeaderSafety) {
  EXPECT_EQ(
      build_http_request({"10.0.0.55", 8080, ""}, {{"Authorization", "Bearer s"}, {"X-A", "1"}}),
      "GET / HTTP/1.0\r\nHost: 10.0.0.55\r\nConnection: close\r\nAccept: */*\r\n"
      "Authorization: Bearer s\r\nX-A: 1\r\n\r\n");
  EXPECT_EQ(build_http_request({"::1", 80, "/v"}, {{"Bad", "x\r\nInjected: 1"}, {"Ok", "y"}}),
            "GET /v HTTP/1.0\r\nHost: [::1]\r\nConnection: close\r\nAccept: */*\r\nOk: y\r\n\r\n");
}

TEST(HtmlTitle, Table) {
  EXPECT_EQ(html_title("<html><TITLE>  Campus Portal </Title></html>"), "Campus Portal");
  EXPECT_EQ(html_title("<title>校园网</title>"), "校园网");
  EXPECT_EQ(html_title("<title>open only"), "");
  EXPECT_EQ(html_title("</title><title>"), "");
  EXPECT_EQ(html_title(""), "");
}

// ---- over loopback ---------------------------------------------------------

TEST(HttpGet, OkWithBodyAndExactRequest) {
  REQUIRE_ISOLATED_NETWORK();
  HttpStandIn server([](const std::string&) {
    return http_reply("200 OK", "Content-Type: text/plain\r\n", "hello");
  });
  HttpResult r = http_get("127.0.0.1", server.port(), "", {{"X-Probe", "1"}}, 2000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "hello");
  EXPECT_LT(r->elapsed_ms, 1000u);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\nAccept: */*\r\nX-Probe: "
            "1\r\n\r\n");
}

TEST(HttpGet, FollowsAbsoluteAbsolutePathAndRelativeRedirects) {
  REQUIRE_ISOLATED_NETWORK();
  HttpStandIn second([](const std::string& path) {
    if (path == "/start") return http_reply("302 Found", "Location: /dir/page\r\n", "");
    if (path == "/dir/page") return http_reply("307 Temporary", "Location: final\r\n", "");
    return http_reply("200 OK", "", "arrived at " + path);
  });
  HttpStandIn first([&](const std::string&) {
    return http_reply("301 Moved",
                      "Location: http://127.0.0.1:" + std::to_string(second.port()) + "/start\r\n",
                      "");
  });
  HttpResult r = http_get("127.0.0.1", first.port(), "/", {}, 2000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "arrived at /dir/final");
  EXPECT_EQ(second.paths(), (std::vector<std::string>{"/start", "/dir/page", "/dir/final"}));
}

// A redirect to another host name would need a lookup the deadline cannot
// bound: it is the answer.
TEST(HttpGet, RedirectToAnotherNameIsTheAnswer) {
  REQUIRE_ISOLATED_NETWORK();
  HttpStandIn server([](const std::string& path) {
    if (path == "/away")
      return http_reply("302 Found", "Location: http://slow.example:80/\r\n", "away");
    return http_reply("200 OK", "", "at " + path);
  });
  auto start = std::chrono::steady_clock::now();
  HttpResult away = http_get("127.0.0.1", server.port(), "/away", {}, 2000);
  ASSERT_TRUE(away);
  EXPECT_EQ(away->status, 302);
  EXPECT_EQ(away->body, "away");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(server.requests().size(), 1u);
}

// The time-out bounds the whole chain, not each request of it.
TEST(HttpGet, RedirectChainSharesOneDeadline) {
  REQUIRE_ISOLATED_NETWORK();
  HttpStandIn server([](const std::string& path) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    int n = std::stoi(path.substr(1));
    return http_reply("302 Found", "Location: /" + std::to_string(n + 1) + "\r\n", "");
  });
  auto start = std::chrono::steady_clock::now();
  HttpResult r = http_get("127.0.0.1", server.port(), "/0", {}, 400);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(r && r->status == 302 && server.requests().size() == 5u);
  EXPECT_LT(took, std::chrono::milliseconds(700));
}

TEST(HttpGet, HttpsRedirectIsTheAnswer) {
  REQUIRE_ISOLATED_NETWORK();
  HttpStandIn server([](const std::string&) {
    return http_reply("302 Found", "Location: https://x/\r\n", "moved");
  });
  HttpResult r = http_get("127.0.0.1", server.port(), "/", {}, 2000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 302);
  EXPECT_EQ(r->body, "moved");
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(HttpGet, FiveRedirectsGiveNoResponseFourDoNot) {
  REQUIRE_ISOLATED_NETWORK();
  for (int hops : {4, 5}) {
    HttpStandIn last([](const std::string&) { return http_reply("200 OK", "", "end"); });
    // Hop `hops` leads off to a server that answers 200.
    HttpStandIn chain([&](const std::string& path) {
      int n = std::stoi(path.substr(1));
      if (n + 1 < hops)
        return http_reply("302 Found", "Location: /" + std::to_string(n + 1) + "\r\n", "");
      return http_reply("302 Found",
                        "Location: http://127.0.0.1:" + std::to_string(last.port()) + "/\r\n", "");
    });
    HttpResult r = http_get("127.0.0.1", chain.port(), "/0", {}, 2000);
    EXPECT_EQ(r.has_value(), hops == 4) << hops;
    EXPECT_EQ(chain.requests().size(), size_t(hops)) << hops;
  }
}

TEST(HttpGet, HeadWithoutBlankLine) {
  REQUIRE_ISOLATED_NETWORK();
  HttpStandIn server(
      [](const std::string&) { return std::string("HTTP/1.1 403 Forbidden\r\nServer: x\r\n"); });
  HttpResult r = http_get("127.0.0.1", server.port(), "/", {}, 2000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  EXPECT_EQ(r->body, "");
}

TEST(HttpGet, HugeReplyIsCutAtTheLimit) {
  REQUIRE_ISOLATED_NETWORK();
  const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
  TcpPeer server([&](PeerConn& c) {
    c.read_until("\r\n\r\n");
    if (!c.send(head)) return;
    const std::string chunk(64 * 1024, 'a');
    for (int i = 0; i < 80; ++i)  // 5 MiB, more than the limit
      if (!c.send(chunk)) return;
  });
  HttpResult r = http_get("127.0.0.1", server.port(), "/", {}, 10000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body.size(), kHttpReplyLimit - head.size());
}

TEST(HttpGet, SilentServerGivesStatusZeroAfterTheTimeout) {
  REQUIRE_ISOLATED_NETWORK();
  TcpPeer server([](PeerConn& c) { c.wait_client_close(); });
  auto start = std::chrono::steady_clock::now();
  HttpResult r = http_get("127.0.0.1", server.port(), "/", {}, 300);
  Ms took = wall_since(start);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 0);
  EXPECT_EQ(r->body, "");
  EXPECT_GE(r->elapsed_ms, 290u);
  EXPECT_LT(took, Ms(1000));
}

TEST(HttpGet, TricklingServerIsBoundedByTheTimeout) {
  REQUIRE_ISOLATED_NETWORK();
  // One byte every 50 ms would last 10 s; each read alone never times out.
  TcpPeer server([](PeerConn& c) {
    c.read_until("\r\n\r\n");
    if (!c.send("HTTP/1.0 200 OK\r\n\r\n")) return;
    for (int i = 0; i < 200 && c.pause(50); ++i)
      if (!c.send("x")) return;
  });
  auto start = std::chrono::steady_clock::now();
  HttpResult r = http_get("127.0.0.1", server.port(), "/", {}, 400);
  Ms took = wall_since(start);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_FALSE(r->body.empty());
  EXPECT_LT(took, Ms(1000));
}

TEST(HttpGet, RefusedPortAndZeroTimeout) {
  REQUIRE_ISOLATED_NETWORK();
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(http_get("127.0.0.1", testing::closed_port(), "/", {}, 2000));
  EXPECT_LT(wall_since(start), Ms(500));
  HttpStandIn server([](const std::string&) { return http_reply("200 OK", "", "x"); });
  EXPECT_FALSE(http_get("127.0.0.1", server.port(), "/", {}, 0));
}

TEST(HttpGet, RedirectToIpv6Literal) {
  REQUIRE_ISOLATED_NETWORK();
  HttpStandIn v6([](const std::string& path) { return http_reply("200 OK", "", "six " + path); },
                 "::1");
  ASSERT_TRUE(v6.ok());
  HttpStandIn v4([&](const std::string&) {
    return http_reply("302 Found", "Location: http://[::1]:" + std::to_string(v6.port()) + "/x\r\n",
                      "");
  });
  HttpResult r = http_get("127.0.0.1", v4.port(), "/", {}, 2000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "six /x");
  ASSERT_EQ(v6.requests().size(), 1u);
  EXPECT_NE(v6.requests()[0].find("\r\nHost: [::1]\r\n"), std::string::npos);
}

}  // namespace
}  // namespace corvale
