// Tunnel owner ranking and the matching of a controller's connections to
// local processes, on the tun scenario's captured controller answers.
#include "graph/attribution.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "graph_support.h"
#include "mihomo/controller.h"

namespace corvale {
namespace {

using testing::captured_host;
using testing::read_data;

TEST(OwnerConfidence, ByIdentityScoreAndCandidateCount) {
  struct Case {
    int64_t score;
    size_t candidates;
    double confidence;
  };
  const Case cases[] = {{30, 1, 0.72}, {29, 1, 0.45}, {100, 1, 0.9}, {100, 3, 0.9},
                        {30, 2, 0.35}, {29, 2, 0.35}, {99, 1, 0.72}};
  for (const Case& c : cases) {
    OwnerCandidate o;
    o.identity_score = c.score;
    score_owner(o, c.candidates);
    EXPECT_DOUBLE_EQ(o.confidence, c.confidence) << c.score << " of " << c.candidates;
  }
}

TEST(OwnerConfidence, ReasonFollowsTheEvidence) {
  OwnerCandidate o;
  o.identity_score = 100;
  o.protocol_listener = true;
  score_owner(o, 2);
  EXPECT_EQ(o.reason, "adapter/process identity match");
  o.identity_score = 40;
  score_owner(o, 2);
  EXPECT_EQ(o.reason,
            "local proxy protocol listener owner; TUN ownership not exposed by the kernel");
  o.protocol_listener = false;
  o.unique_active = true;
  score_owner(o, 2);
  EXPECT_EQ(o.reason, "unique active proxy core/API candidate");
  o.unique_active = false;
  score_owner(o, 2);
  EXPECT_EQ(o.reason, "proxy-core candidate; TUN owner not exposed by the kernel");
}

// The tun scenario: mihomo (whose configuration names tun0) and an idle clash.
Facts tun_host() {
  Facts f = captured_host("tun");
  f.processes_by_pid[28803] = {28803, "mihomo", "/usr/bin/mihomo", "mihomo -d /etc/mihomo"};
  f.processes_by_pid[28915] = {28915, "firefox", "", ""};
  f.processes_by_pid[29001] = {29001, "clash", "/usr/bin/clash", "clash -d /nonexistent"};
  f.proxy_processes = {f.processes_by_pid[28803], f.processes_by_pid[29001]};
  CoreControllerInfo core;
  core.pid = 28803;
  core.process_name = "mihomo";
  core.config_lines = {"mixed-port: 7890", "tun:",           "  enable: true",
                       "  stack: gvisor",  "  device: tun0", "proxies:"};
  core.tun_stack = "gvisor";
  core.selected_controller = "http://127.0.0.1:9090";
  core.connections = parse_connections(read_data("captures/tun/mihomo_connections.json"));
  f.core_infos.push_back(core);
  CoreControllerInfo idle;
  idle.pid = 29001;
  f.core_infos.push_back(idle);
  return f;
}

uint32_t tun_index(const Facts& f) {
  for (const auto& a : f.adapters)
    if (a.name == "tun0") return a.if_index;
  return 0;
}

TEST(TunnelOwners, TheCoreNamingTheTunnelLeads) {
  Facts f = tun_host();
  auto owners = tunnel_owner_candidates(f, tun_index(f));
  ASSERT_EQ(owners.size(), 2u);
  EXPECT_EQ(owners[0].process.name, "mihomo");
  EXPECT_EQ(owners[0].identity_score, 100);
  EXPECT_DOUBLE_EQ(owners[0].confidence, 0.9);
  EXPECT_EQ(owners[0].reason, "adapter/process identity match");
  EXPECT_EQ(owners[1].process.name, "clash");
  EXPECT_DOUBLE_EQ(owners[1].confidence, 0.35);
  // Asked about another adapter, nobody matches by identity; the core whose
  // controller answered is the unique active one.
  auto other = tunnel_owner_candidates(f, 2);
  ASSERT_EQ(other.size(), 2u);
  EXPECT_EQ(other[0].process.name, "mihomo");
  EXPECT_EQ(other[0].identity_score, 40 + 30 + 10);
  EXPECT_TRUE(other[0].unique_active);
  EXPECT_EQ(other[0].reason, "unique active proxy core/API candidate");
  EXPECT_FALSE(other[1].unique_active);
}

TEST(TunnelOwners, FlowStyleTunBlockNamesTheDevice) {
  Facts f = tun_host();
  f.core_infos[0].config_lines = {"tun: {enable: true, stack: gvisor, device: tun0}"};
  EXPECT_EQ(tunnel_owner_candidates(f, tun_index(f))[0].identity_score, 100);
  f.core_infos[0].config_lines = {"tun: {enable: true, device: utun9}"};
  EXPECT_LT(tunnel_owner_candidates(f, tun_index(f))[0].identity_score, 100);
  // What the running core reports outweighs its file.
  f.core_infos[0].runtime_tun_device = "tun0";
  EXPECT_EQ(tunnel_owner_candidates(f, tun_index(f))[0].identity_score, 100);
}

TEST(CaptureMatch, FirstRuleThatHolds) {
  const ProcessInfo firefox{7, "firefox", "/usr/lib/firefox/firefox", "/usr/lib/firefox/firefox"};
  const ProcessInfo script{8, "firefox", "/usr/bin/python3.11", "/usr/lib/firefox/firefox -p x"};
  struct Case {
    const char* what;
    RuntimeProcess runtime;
    ProcessInfo local;
    double confidence;  // 0: no match
  };
  const Case cases[] = {
      {"exact path wins over the name", {"/usr/lib/firefox/firefox", "firefox", 0}, firefox, 0.99},
      // The command line's program is the process's own claim: never the top confidence.
      {"launch path of an interpreted program", {"/usr/lib/firefox/firefox", "", 0}, script, 0.88},
      {"kernel's executable beats another's claim", {"/usr/bin/python3.11", "", 0}, script, 0.99},
      {"Linux path, same file name", {"/opt/firefox/firefox", "", 0}, firefox, 0.92},
      {"Windows path, same file name", {"C:\\Apps\\firefox", "", 0}, firefox, 0.92},
      {"name with .exe", {"C:\\Apps\\other.exe", "firefox.exe", 0}, firefox, 0.86},
      {"plain name", {"", "firefox", 0}, firefox, 0.86},
      {"different program", {"/usr/bin/chromium", "chromium", 0}, firefox, 0},
      {"empty texts never match", {"", "x", 0}, ProcessInfo{9, "", "", ""}, 0},
      {"a trailing separator is no file name",
       {"/usr/lib/", "", 0},
       ProcessInfo{9, "", "/", ""},
       0},
  };
  for (const Case& c : cases) {
    auto m = match_runtime_process(c.runtime, c.local);
    EXPECT_DOUBLE_EQ(m ? m->confidence : 0, c.confidence) << c.what;
  }
  EXPECT_EQ(match_runtime_process({"/usr/lib/firefox/firefox", "", 0}, firefox)->reason,
            "runtime API exact process path");
}

TEST(CapturedProcesses, RealControllerAnswer) {
  Facts f = tun_host();
  auto captured = captured_processes(f.core_infos[0], f);
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0].process.pid, 28915u);
  // The facts hold only firefox's name: the name rule applies.
  EXPECT_DOUBLE_EQ(captured[0].confidence, 0.86);
  EXPECT_EQ(captured[0].reason, "runtime API process name");
  ASSERT_EQ(captured[0].flows.size(), 1u);
  EXPECT_EQ(captured[0].flows[0], "DOMAIN-SUFFIX:example.org -> hk-01 / Proxy");

  f.processes_by_pid[28915].exe_path = "/usr/lib/firefox/firefox";
  captured = captured_processes(f.core_infos[0], f);
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_DOUBLE_EQ(captured[0].confidence, 0.99);
}

TEST(CapturedProcesses, MergedByPidAndSourcePortPicksAmongEquals) {
  Facts f;
  f.processes_by_pid[40] = {40, "firefox", "", ""};
  f.processes_by_pid[41] = {41, "firefox", "", ""};
  f.tcp_sockets = {{"127.0.0.1", 50001, "127.0.0.1", 7890, kTcpEstablished, 41}};
  CoreControllerInfo core;
  auto conn = [](uint16_t port, const char* rule) {
    CoreConnection c;
    c.source_port = port;
    c.process = "firefox";
    c.chains = {"DIRECT"};
    c.rule = rule;
    return c;
  };
  core.connections = {conn(50001, "MATCH"), conn(50001, "GEOIP"), conn(1, "FINAL")};
  auto captured = captured_processes(core, f);
  ASSERT_EQ(captured.size(), 2u);
  EXPECT_EQ(captured[0].process.pid, 41u);  // owns source port 50001
  EXPECT_EQ(captured[0].flows.size(), 2u);
  EXPECT_EQ(captured[1].process.pid, 40u);  // lowest PID when no socket decides
}

TEST(CapturedProcesses, HostileAnswersAreSkipped) {
  Facts f;
  f.processes_by_pid[5] = {5, "firefox", "/usr/bin/firefox", ""};
  CoreControllerInfo core;
  // Read through the controller module's parser, as the collect stage does.
  core.connections =
      parse_connections(R"({"connections":["not json",{},[],{"metadata":5},)"
                        R"({"metadata":{"process":7,"processPath":null}},)"
                        R"({"metadata":{"process":"ghost","processPath":"/usr/bin/ghost"}},)"
                        R"({"metadata":{"process":"firefox","sourcePort":99999999}},)"
                        "\"\xff\"]}");
  ASSERT_EQ(core.connections.size(), 5u);
  auto captured = captured_processes(core, f);
  ASSERT_EQ(captured.size(), 1u);  // only the one naming firefox
  EXPECT_EQ(captured[0].process.pid, 5u);
}

// A connection's inbound says how it reached the core: the TUN captured it,
// or the program used the mixed, HTTP or SOCKS port on purpose.
TEST(CapturedProcesses, InboundTypeTellsCaptureFromExplicitUse) {
  struct Case {
    std::vector<std::string> types;  // of curl's connections, in order
    CoreInbound want;
  };
  const Case cases[] = {
      {{"Tun"}, CoreInbound::kTunnel},
      {{"Mixed", "HTTP"}, CoreInbound::kExplicit},
      {{"socks5"}, CoreInbound::kExplicit},
      {{"Mixed", "Tun", "Socks5"}, CoreInbound::kTunnel},
      {{"TProxy"}, CoreInbound::kTransparent},
      {{"", "Inner"}, CoreInbound::kUnknown},
      {{"Redir", "Mixed"}, CoreInbound::kTransparent},
      // sing-box: the inbound's type, then its tag.
      {{"mixed/mixed-in"}, CoreInbound::kExplicit},
      {{"socks/in", "tun/tun-in"}, CoreInbound::kTunnel},
      {{"redirect/redir-in"}, CoreInbound::kTransparent},
  };
  Facts f;
  f.processes_by_pid[5] = {5, "curl", "/usr/bin/curl", "curl"};
  for (const Case& c : cases) {
    CoreControllerInfo core;
    for (const auto& t : c.types) {
      CoreConnection conn;
      conn.process_path = "/usr/bin/curl";
      conn.inbound_type = t;
      core.connections.push_back(conn);
    }
    auto captured = captured_processes(core, f);
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0].inbound, c.want) << ::testing::PrintToString(c.types);
  }
  EXPECT_EQ(inbound_text(CoreInbound::kExplicit), "explicit use of the proxy");
  EXPECT_EQ(inbound_text(CoreInbound::kUnknown), "");
}

}  // namespace
}  // namespace corvale
