// The controller client against crafted controllers on loopback. These tests
// open sockets: run them inside an isolated network namespace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "mihomo/controller.h"
#include "support/peers.h"
#include "util/text.h"

namespace corvale {
namespace {

using testing::PeerConn;
using testing::TcpPeer;
using testing::UnixPeer;
using Clock = std::chrono::steady_clock;

constexpr const char* kConnections =
    R"({"downloadTotal":10,"uploadTotal":5,"connections":[)"
    R"({"id":"1","metadata":{"network":"tcp","processPath":"/usr/bin/curl","process":"curl"},)"
    R"("rule":"DomainSuffix","rulePayload":"example.com","chains":["node-a","Proxy"]},)"
    R"({"id":"2","metadata":{"process":"firefox"},"rule":"Match","rulePayload":"","chains":["DIRECT"]}]})";

std::string http_reply(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) +
         " X\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string header_value(const std::string& request, std::string_view name) {
  for (auto line : split_lines(request)) {
    std::string l = to_lower(trim_view(line));
    if (l.starts_with(to_lower(name) + ":")) return trim(trim_view(line).substr(name.size() + 1));
  }
  return {};
}

std::string path_of(const std::string& request) {
  std::string first_line = request.substr(0, request.find('\r'));
  auto fields = split_ws(first_line);
  return fields.size() > 1 ? std::string(fields[1]) : "";
}

// A controller that insists on its secret, like the real ones.
TcpPeer::Handler controller(std::string secret) {
  return [secret](PeerConn& c) {
    std::string request = c.read_head();
    std::string auth = header_value(request, "Authorization");
    bool allowed = secret.empty() ? auth.empty() : auth == "Bearer " + secret;
    if (!allowed) return (void)c.send(http_reply(401, R"({"message":"Unauthorized"})"));
    std::string path = path_of(request);
    if (path == "/version")
      return (void)c.send(http_reply(200, R"({"meta":true,"version":"v1.18.5"})"));
    if (path == "/connections") return (void)c.send(http_reply(200, kConnections));
    if (path == "/configs")
      return (void)c.send(http_reply(200, R"({"tun":{"enable":true,"device":"Meta"}})"));
    c.send(http_reply(404, "{}"));
  };
}

class ControllerServer : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_ISOLATED_NETWORK(); }
};

ProcessInfo core_with(const std::string& args) {
  return {4242, "mihomo", "/usr/bin/mihomo", "mihomo " + args};
}

std::string ctl(const TcpPeer& s) { return "127.0.0.1:" + std::to_string(s.port()); }

// Holds the connection without a word, until the peer stops.
void hold_silent(PeerConn& c) {
  c.read_head();
  c.pause(5000);
}

TEST_F(ControllerServer, RightSecretAnswersAndConnectionsAreFetched) {
  TcpPeer server(controller("letmein-42"));
  ASSERT_TRUE(server.ok());
  auto info = discover_core(core_with("-ext-ctl " + ctl(server) + " -secret letmein-42"), {}, {});
  EXPECT_EQ(info.selected_controller, "http://" + ctl(server));
  EXPECT_EQ(info.version, "v1.18.5");
  ASSERT_EQ(info.connections.size(), 2u);
  EXPECT_EQ(info.connections[0].process_path, "/usr/bin/curl");
  EXPECT_EQ(info.runtime_tun_device, "Meta");
  auto reqs = server.requests();
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(path_of(reqs[0]), "/version");
  // The running configuration and the connections are asked at once.
  EXPECT_EQ(std::set<std::string>({path_of(reqs[1]), path_of(reqs[2])}),
            (std::set<std::string>{"/configs", "/connections"}));
  EXPECT_EQ(header_value(reqs[1], "Host"), "127.0.0.1");
}

TEST_F(ControllerServer, WrongSecretIsNotAnswering) {
  TcpPeer server(controller("right"));
  auto info = discover_core(core_with("-ext-ctl " + ctl(server) + " -secret wrong"), {}, {});
  EXPECT_FALSE(info.selected_controller);
  EXPECT_TRUE(info.connections.empty());
  bool listed = false;
  for (const auto& r : info.endpoint_results)
    if (r.label == "http://" + ctl(server)) {
      listed = true;
      EXPECT_FALSE(r.answered);
    }
  EXPECT_TRUE(listed);
  EXPECT_EQ(server.requests().size(), 1u);  // no /connections after a refusal
}

TEST_F(ControllerServer, NoSecretSendsNoAuthorizationHeader) {
  TcpPeer server(controller(""));
  auto info = discover_core(core_with("-ext-ctl " + ctl(server)), {}, {});
  EXPECT_EQ(info.selected_controller, "http://" + ctl(server));
  for (const auto& r : server.requests()) EXPECT_EQ(header_value(r, "Authorization"), "");
}

TEST_F(ControllerServer, ControllerFromConfigAndOwnListener) {
  TcpPeer server(controller("from-file-secret"));
  auto dir = std::filesystem::temp_directory_path() / ("corvale-ctl-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  // The configured controller is wrong; the core's own listener is the real one.
  std::ofstream(dir / "config.yaml")
      << "external-controller: 127.0.0.1:1\nsecret: from-file-secret\n";
  std::vector<SocketEntry> listeners = {{"0.0.0.0", server.port(), "", 0, kTcpListen, 4242}};
  auto info = discover_core(core_with("-d " + dir.string()), listeners, {});
  std::filesystem::remove_all(dir);
  EXPECT_EQ(info.selected_controller, "http://" + ctl(server));
  EXPECT_EQ(info.connections.size(), 2u);
}

TEST_F(ControllerServer, IPv6LoopbackController) {
  TcpPeer server(controller(""), "::1");
  ASSERT_TRUE(server.ok());
  auto info = discover_core(core_with("-ext-ctl [::1]:" + std::to_string(server.port())), {}, {});
  EXPECT_EQ(info.selected_controller, "http://[::1]:" + std::to_string(server.port()));
  ASSERT_FALSE(server.requests().empty());
  EXPECT_EQ(header_value(server.requests()[0], "Host"), "[::1]");
}

TEST_F(ControllerServer, RedirectIsNotFollowed) {
  TcpPeer elsewhere(controller(""));
  TcpPeer redirector(testing::fixed_reply("HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" +
                                          std::to_string(elsewhere.port()) + "/version\r\n\r\n"));
  auto r = controller_get("127.0.0.1", redirector.port(), "/version",
                          {{"Authorization", "Bearer s"}}, 1000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 302);
  EXPECT_EQ(elsewhere.accepted(), 0);
}

TEST_F(ControllerServer, HostilePeersAreBounded) {
  // Silent after accepting.
  TcpPeer silent([](PeerConn& c) {
    c.read_head();
    c.pause(3000);
  });
  // Drips one byte every 50 ms, forever.
  TcpPeer drip([](PeerConn& c) {
    c.read_head();
    if (!c.send("HTTP/1.1 200 OK\r\n\r\n")) return;
    for (int i = 0; i < 100 && c.send("x") && c.pause(50); ++i) {
    }
  });
  TcpPeer garbage(testing::fixed_reply(std::string("\x00\xff\x13garbage\r\n\r\n{}", 17)));
  TcpPeer closes([](PeerConn& c) { c.read_head(); });

  auto start = Clock::now();
  auto r = controller_get("127.0.0.1", silent.port(), "/version", {}, 300);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 0);
  r = controller_get("127.0.0.1", drip.port(), "/version", {}, 300);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_LT(r->body.size(), 20u);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));

  r = controller_get("127.0.0.1", garbage.port(), "/version", {}, 500);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 0);
  r = controller_get("127.0.0.1", closes.port(), "/version", {}, 500);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 0);
  EXPECT_EQ(r->body, "");

  // Nothing listens on port 1: no response at all.
  EXPECT_FALSE(controller_get("127.0.0.1", 1, "/version", {}, 500));

  // Never finishes its head: a status, but no body.
  TcpPeer head_drip([](PeerConn& c) {
    c.read_head();
    std::string head = "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(200, 'a');
    for (char ch : head)
      if (!c.send(std::string(1, ch)) || !c.pause(50)) break;
  });
  // The whole discovery over hostile endpoints stays within its time-outs.
  start = Clock::now();
  auto info = discover_core(core_with("-ext-ctl " + ctl(silent)),
                            {{"127.0.0.1", head_drip.port(), "", 0, kTcpListen, 4242},
                             {"127.0.0.1", garbage.port(), "", 0, kTcpListen, 4242}},
                            {});
  EXPECT_FALSE(info.selected_controller);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
}

TEST_F(ControllerServer, OversizedReplyIsCut) {
  TcpPeer big([](PeerConn& c) {
    c.read_head();
    if (!c.send("HTTP/1.0 200 OK\r\n\r\n")) return;
    std::string chunk(64 * 1024, 'y');
    for (int i = 0; i < 200 && c.send(chunk); ++i) {
    }
  });
  auto r = controller_get("127.0.0.1", big.port(), "/connections", {}, 2000);
  ASSERT_TRUE(r);
  EXPECT_LE(r->body.size(), (4u << 20) + 8192u);
  EXPECT_GE(r->body.size(), 4u << 20);
}

// The socket a GUI names for its core is asked first and never gets the
// secret, which the TCP controller beside it does get.
TEST_F(ControllerServer, UnixSocketControllerIsChosenWithoutTheSecret) {
  UnixPeer sock(controller(""));  // refuses any Authorization header
  TcpPeer tcp(controller("s3cret"));
  ASSERT_TRUE(sock.ok() && tcp.ok());
  auto info = discover_core(
      core_with("-ext-ctl " + ctl(tcp) + " -secret s3cret -ext-ctl-unix " + sock.path()), {}, {});
  EXPECT_EQ(info.selected_controller, "unix:" + sock.path());
  EXPECT_EQ(info.version, "v1.18.5");
  EXPECT_EQ(info.connections.size(), 2u);
  EXPECT_EQ(info.runtime_tun_device, "Meta");
  auto reqs = sock.requests();
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(path_of(reqs[0]), "/version");
  for (const auto& r : reqs) {
    EXPECT_EQ(header_value(r, "Authorization"), "") << r;
    EXPECT_EQ(header_value(r, "Host"), "localhost") << r;
  }
  ASSERT_EQ(tcp.requests().size(), 1u);
  EXPECT_EQ(header_value(tcp.requests()[0], "Authorization"), "Bearer s3cret");
}

// A hostile socket costs the client at most its 300 ms limit; the bound
// asserted is well below the 5 s a silent or dripping peer holds on.
TEST_F(ControllerServer, HostileUnixSocketPeersAreBounded) {
  struct Case {
    std::string name;
    UnixPeer::Handler handler;
    uint16_t status;
    std::string body;  // what arrives after the head, or its first bytes
  };
  const std::vector<Case> cases = {
      {"silent after accept", hold_silent, 0, ""},
      {"drips a byte every 50 ms",
       [](PeerConn& c) {
         c.read_head();
         if (!c.send("HTTP/1.1 200 OK\r\n\r\n")) return;
         for (int i = 0; i < 100 && c.send("x") && c.pause(50); ++i) {
         }
       },
       200, "x"},
      {"garbage", testing::fixed_reply(std::string("\x00\xff\x13garbage\r\n\r\n{}", 17)), 0, "{}"},
      {"closes without answering", [](PeerConn& c) { c.read_head(); }, 0, ""},
  };
  for (const auto& c : cases) {
    UnixPeer peer(c.handler);
    ASSERT_TRUE(peer.ok()) << c.name;
    auto start = Clock::now();
    auto r = controller_get(peer.path(), 0, "/version", {}, 300);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500)) << c.name;
    EXPECT_EQ(peer.accepted(), 1) << c.name;
    ASSERT_TRUE(r) << c.name;
    EXPECT_EQ(r->status, c.status) << c.name;
    EXPECT_TRUE(r->body.starts_with(c.body) && r->body.size() < c.body.size() + 10)
        << c.name << ": " << r->body;
  }
}

TEST_F(ControllerServer, SilentUnixSocketFallsBackToTheTcpController) {
  UnixPeer silent(hold_silent);
  TcpPeer tcp(controller("s3cret"));
  ASSERT_TRUE(silent.ok() && tcp.ok());
  auto start = Clock::now();
  auto info = discover_core(
      core_with("-ext-ctl " + ctl(tcp) + " -secret s3cret -ext-ctl-unix " + silent.path()), {}, {});
  // The socket's /version limit, then the TCP controller's prompt replies.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kVersionTimeoutMs + 1000));
  EXPECT_EQ(info.selected_controller, "http://" + ctl(tcp));
  EXPECT_EQ(info.connections.size(), 2u);
  EXPECT_EQ(silent.accepted(), 1);
  ASSERT_FALSE(info.endpoint_results.empty());
  EXPECT_EQ(info.endpoint_results[0].label, "unix:" + silent.path());
  EXPECT_FALSE(info.endpoint_results[0].answered);
}

// Only a socket itself is connected: a file, a FIFO, a missing path or a link
// (even to a live socket) is refused at once and nothing in it is opened.
TEST_F(ControllerServer, UnixControllerPathThatIsNoSocketIsNeverOpened) {
  UnixPeer live(controller(""));
  ASSERT_TRUE(live.ok());
  struct Case {
    std::string name;
    std::function<void(const std::string&)> make;
  };
  const std::vector<Case> cases = {
      {"regular file", [](const std::string& p) { std::ofstream(p) << "{}"; }},
      {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
      {"missing", [](const std::string&) {}},
      {"dangling link", [](const std::string& p) { ::symlink("gone.sock", p.c_str()); }},
      {"link to a live socket",
       [&](const std::string& p) { ::symlink(live.path().c_str(), p.c_str()); }},
  };
  for (size_t i = 0; i < cases.size(); ++i) cases[i].make(live.dir() + "/" + std::to_string(i));
  // With a reader present a FIFO opens for writing at once, so a client that
  // opened it would show below instead of blocking.
  UniqueFd reader(::open((live.dir() + "/1").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_TRUE(reader.valid());
  UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  ASSERT_GE(::inotify_add_watch(watch.get(), live.dir().c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY),
            0);

  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string path = live.dir() + "/" + std::to_string(i);
    auto start = Clock::now();
    EXPECT_FALSE(controller_get(path, 0, "/version", {}, 1000)) << cases[i].name;
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500)) << cases[i].name;
    auto info = discover_core(core_with("-ext-ctl-unix " + path), {}, {});
    EXPECT_FALSE(info.selected_controller) << cases[i].name;
    ASSERT_FALSE(info.endpoint_results.empty()) << cases[i].name;
    EXPECT_EQ(info.endpoint_results[0].label, "unix:" + path) << cases[i].name;
  }
  alignas(inotify_event) char buf[4096];
  ssize_t n = ::read(watch.get(), buf, sizeof buf);
  EXPECT_LT(n, 0) << "opened: " << (n > 0 ? reinterpret_cast<inotify_event*>(buf)->name : "");
  EXPECT_EQ(live.accepted(), 0);
  EXPECT_TRUE(live.requests().empty());
}

}  // namespace
}  // namespace corvale
