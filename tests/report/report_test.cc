#include "report/report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "graph_fixtures.h"
#include "report/assets.h"
#include "report/payload.h"
#include "report/sha256.h"

namespace corvale {
namespace {

size_t count(std::string_view text, std::string_view needle) {
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string_view::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

Adapter adapter(std::string name, uint32_t index, std::string v4) {
  Adapter a;
  a.name = name;
  a.description = name;
  a.if_index = index;
  a.is_up = true;
  if (!v4.empty()) a.ipv4_addresses = {{v4, 24}};
  a.dns_servers = {"192.168.1.1"};
  return a;
}

// A laptop on Ethernet without a tunnel.
Facts direct_host() {
  Facts f;
  f.hostname = "campus-laptop";
  f.os_name = "Debian GNU/Linux 12 (bookworm)";
  f.collected_at = "2026-12-08 12:00:00";
  f.adapters = {adapter("eth0", 2, "192.168.1.10")};
  f.routes = {{"0.0.0.0", "192.168.1.1", 2, 100, kFamilyV4, 0}};
  f.assessments_by_index[2].verdict = AdapterVerdict::kCarrier;
  f.egress_v4 = RouteLookup{2, "192.168.1.1", "192.168.1.10", kFamilyV4};
  f.egress_v4_adapter = f.adapters[0];
  f.default_route_v4 = f.routes[0];
  f.default_gateway_v4 = "192.168.1.1";
  f.physical_candidates = {{2, "eth0", "192.168.1.1", "192.168.1.1", kFamilyV4}};
  f.internet_probes.v4.ok = true;
  return f;
}

// The same laptop with a proxy core's TUN adapter carrying the default route.
Facts tun_host() {
  Facts f = direct_host();
  Adapter tun = adapter("Meta", 7, "198.18.0.1");
  tun.dns_servers = {"198.18.0.2", "192.168.1.1"};
  tun.ipv6_addresses = {{"fdfe:dcba:9876::1", 126}};
  f.adapters.push_back(tun);
  f.assessments_by_index[7].verdict = AdapterVerdict::kTunnel;
  f.egress_v4 = RouteLookup{7, std::nullopt, "198.18.0.1", kFamilyV4};
  f.egress_v6 = RouteLookup{7, std::nullopt, std::nullopt, kFamilyV6};
  f.egress_v4_adapter = tun;
  f.proxy_processes = {{300, "clash", "/usr/bin/clash", ""},
                       {310, "mihomo", "/opt/mihomo/mihomo", "mihomo -d /etc/mihomo"},
                       {320, "xray", "/usr/bin/xray", ""}};
  f.tcp_listeners = {{"127.0.0.1", 9090, "", 0, kTcpListen, 310},
                     {"0.0.0.0", 7890, "", 0, kTcpListen, 310},
                     {"::", 7890, "", 0, kTcpListen, 310},
                     {"127.0.0.1", 1080, "", 0, kTcpListen, 320}};
  return f;
}

ProbeResults pinged(std::map<std::string, PingResult> pings) { return {std::move(pings), {}}; }

ProbeResults gateway_answers() { return pinged({{"192.168.1.1", PingResult{true, 1}}}); }

std::string render(const Facts& f, const ProbeResults& pings = gateway_answers(),
                   const TopologyGraph& g = TopologyGraph{},
                   InterceptionLevel level = InterceptionLevel::kNone) {
  Facts decided = f;
  decided.interception.effective = level;
  return render_report(decided, g, pings, "1.2.3");
}

std::vector<std::string> titles(const std::vector<ChainBlock>& blocks) {
  std::vector<std::string> out;
  for (const auto& b : blocks) out.push_back(b.plan.title);
  return out;
}

TEST(ReportChain, NoTunnelGivesFourBlocksThreeConnectors) {
  std::string html = render(direct_host());
  EXPECT_EQ(count(html, "<div class=\"block"), 4u);
  EXPECT_EQ(count(html, "<svg class=\"conn\""), 3u);
  for (int h = 1; h <= 4; ++h)
    EXPECT_NE(html.find("<span class=\"height\">#" + std::to_string(h) + "</span>"),
              std::string::npos);
  EXPECT_EQ(html.find("#5</span>"), std::string::npos);
  auto blocks = egress_chain_blocks(direct_host(), gateway_answers());
  EXPECT_EQ(titles(blocks), (std::vector<std::string>{"Applications", "Physical NIC", "LAN Gateway",
                                                      "Internet / ISP"}));
  EXPECT_EQ(blocks[1].plan.status, "OK");
  EXPECT_EQ(blocks[2].plan.status, "OK");
  EXPECT_EQ(blocks[3].plan.status, "OK");
}

TEST(ReportChain, TunnelGivesSixBlocksWithTheTunnelSelected) {
  Facts f = tun_host();
  auto blocks = egress_chain_blocks(f, gateway_answers());
  ASSERT_EQ(titles(blocks),
            (std::vector<std::string>{"Applications", "Meta TUN", "mihomo", "Physical NIC",
                                      "LAN Gateway", "Internet / ISP"}));
  EXPECT_TRUE(blocks[1].selected);
  EXPECT_EQ(blocks[1].plan.sub, "selected default route (tunnel)");
  EXPECT_EQ(blocks[1].plan.status, "OK");
  EXPECT_EQ(blocks[2].plan.status, "");
  for (size_t i = 0; i < blocks.size(); ++i)
    if (i != 1) {
      EXPECT_FALSE(blocks[i].selected) << i;
    }
  std::string tunnel_rows = block_content(2, blocks[1].plan, "");
  EXPECT_NE(tunnel_rows.find("rows=IPv4 198.18.0.1; IPv6 fdfe:dcba:9876::1; ifIndex 7; DNS "
                             "198.18.0.2 192.168.1.1|"),
            std::string::npos);
  // The core's own listeners, each port once; a preferred name beats "clash".
  EXPECT_NE(block_content(3, blocks[2].plan, "")
                .find("rows=PID 310; path /opt/mihomo/mihomo; listen :7890 :9090|"),
            std::string::npos);
  // Behind the tunnel the carrier is the physical candidate.
  EXPECT_NE(block_content(4, blocks[3].plan, "")
                .find("rows=adapter eth0; ifIndex 2; IPv4 192.168.1.10; gateway 192.168.1.1|"),
            std::string::npos);
  EXPECT_NE(block_content(6, blocks[5].plan, "")
                .find("rows=probe 223.5.5.5; egress Meta; src 198.18.0.1|"),
            std::string::npos);

  std::string html = render(f);
  EXPECT_EQ(count(html, "<div class=\"block selected\">"), 1u);
  EXPECT_EQ(count(html, "<svg class=\"conn\""), 5u);
}

TEST(ReportChain, TunnelWithoutCoreAndCoreChoice) {
  Facts f = tun_host();
  f.proxy_processes = {{300, "clash", "", ""}, {301, "openvpn", "", ""}};
  auto blocks = egress_chain_blocks(f, {});
  ASSERT_EQ(blocks.size(), 6u);
  EXPECT_EQ(blocks[2].plan.title, "clash");  // the only candidate, though not preferred
  EXPECT_EQ(block_content(3, blocks[2].plan, "").find("path"), std::string::npos);
  f.proxy_processes = {{301, "openvpn", "", ""}};
  EXPECT_EQ(egress_chain_blocks(f, {}).size(), 5u);
  // A tunnel that is not the IPv4 egress is no block.
  f = tun_host();
  f.assessments_by_index[7].verdict = AdapterVerdict::kOther;
  EXPECT_EQ(egress_chain_blocks(f, {}).size(), 4u);
}

TEST(ReportChain, GatewayThatDoesNotAnswerAndNoCarrier) {
  Facts f = direct_host();
  f.internet_probes.v4.ok = false;
  auto blocks = egress_chain_blocks(f, pinged({{"192.168.1.1", PingResult{false, -1}}}));
  EXPECT_EQ(blocks[2].plan.status, "FAIL");
  EXPECT_NE(block_content(3, blocks[2].plan, "").find("rows=address 192.168.1.1; ping timeout|"),
            std::string::npos);
  EXPECT_EQ(blocks[3].plan.status, "FAIL");

  Facts bare;
  blocks = egress_chain_blocks(bare, {});
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[1].plan.status, "FAIL");
  EXPECT_TRUE(blocks[1].plan.rows.empty());
  EXPECT_NE(block_content(2, blocks[1].plan, "").find("|rows=|prev="), std::string::npos);
  EXPECT_NE(block_content(3, blocks[2].plan, "").find("rows=ping timeout|"), std::string::npos);
}

TEST(ReportChain, HashesOnThePageRecomputeFromTheContent) {
  Facts f = tun_host();
  std::string html = render(f);
  auto blocks = egress_chain_blocks(f, gateway_answers());
  std::string prev(64, '0');
  for (const auto& b : blocks) {
    EXPECT_EQ(b.prev, prev);
    EXPECT_EQ(b.hash, sha256_hex(block_content(b.height, b.plan, prev)));
    EXPECT_NE(html.find("<div class=\"hrow\" title=\"" + b.hash + "\">"), std::string::npos);
    prev = b.hash;
  }
  // Same facts, same page.
  EXPECT_EQ(render(f), html);
}

TEST(ReportDocument, SkeletonOrderAndFixedTexts) {
  TopologyGraph g;
  g.nodes.push_back(testing::node("app", "Applications", "", "source"));
  std::string html = render(direct_host(), gateway_answers(), g);
  const std::string pieces[] = {
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n",
      "<title>Corvale Report - campus-laptop</title>\n<style>\n" +
          std::string(report_stylesheet()) + "\n</style>\n</head>\n<body>\n<header>\n",
      "<div class=\"sub\">campus-laptop &middot; Debian GNU/Linux 12 (bookworm) &middot; "
      "generated 2026-12-08 12:00:00</div>\n<div class=\"chips\">",
      "</div>\n" + std::string(report_extlinks()) + "\n</header>\n<main>\n<div class=\"tabs\">\n",
      "</div>\n<section id=\"view-chain\" class=\"view\">\n<h2>Default egress chain</h2><div "
      "class=\"chain\"><div class=\"block\">",
      "<details><summary>Adapters</summary>",
      "<details><summary>V5.2 raw interception evidence assessment</summary>",
      "\n</section>\n<script>window.ND = " + graph_payload_json(g) + ";</script>\n" +
          std::string(report_graph_section()) + "\n</main>\n<footer>Hash-linked blocks:",
      "Generated by corvale 1.2.3.</footer>\n<script>\n" + std::string(report_script()) +
          "\n</script>\n</body>\n</html>\n",
  };
  size_t at = 0;
  for (const auto& p : pieces) {
    size_t found = html.find(p, at);
    ASSERT_NE(found, std::string::npos) << p.substr(0, 80);
    at = found + p.size();
  }
  EXPECT_EQ(at, html.size());
  EXPECT_EQ(html.find("corvale.ps1"), std::string::npos);
}

TEST(ReportDocument, Chips) {
  Facts f = tun_host();
  f.adapters.push_back(adapter("eth1", 9, ""));
  f.egress_v6 = RouteLookup{9, std::nullopt, std::nullopt, kFamilyV6};
  f.proxy_settings.proxy_enabled = true;
  f.proxy_settings.proxy_server = "127.0.0.1:7890";
  ProxyCandidateAssessment c;
  c.pid = 310;
  f.proxy_candidates.candidates = {c, c, c};
  f.proxy_candidates.candidates[2].pid = 320;
  std::string html = render(f, {}, TopologyGraph{}, InterceptionLevel::kLikely);
  EXPECT_NE(html.find("<div class=\"chips\"><span class=\"chip\">Host <b>campus-laptop</b></span>"
                      "<span class=\"chip\">Egress IPv4 <b>Meta</b></span>"
                      "<span class=\"chip\">Egress IPv6 <b>eth1</b></span>"
                      "<span class=\"chip\">IPv4 Internet <b class=\"ok\">OK</b></span>"
                      "<span class=\"chip\">WinINET proxy <b>on (127.0.0.1:7890)</b></span>"
                      "<span class=\"chip\">Graph <b>V5.2 entity-compact</b></span>"
                      "<span class=\"chip\">TCP evidence <b>3 snapshots</b></span>"
                      "<span class=\"chip\">Interception <b class=\"fail\">LIKELY</b></span>"
                      "<span class=\"chip\">Proxy candidates <b>2 proc / 3 endpoints</b></span>"
                      "</div>"),
            std::string::npos);
  struct Case {
    InterceptionLevel level;
    const char* text;
    const char* cls;
  } levels[] = {{InterceptionLevel::kPossible, "POSSIBLE", "warn"},
                {InterceptionLevel::kNone, "NONE", "ok"},
                {InterceptionLevel::kVisibleTunnel, "VISIBLE-TUNNEL", "ok"},
                {InterceptionLevel::kExplicitProxy, "EXPLICIT-PROXY", "ok"}};
  for (const auto& l : levels)
    EXPECT_NE(render(direct_host(), {}, TopologyGraph{}, l.level)
                  .find(std::string("Interception <b class=\"") + l.cls + "\">" + l.text),
              std::string::npos)
        << l.text;
  Facts none;
  none.internet_probes.v4.ok = false;
  html = render(none, {});
  EXPECT_NE(html.find("Egress IPv4 <b></b>"), std::string::npos);
  EXPECT_NE(html.find("Egress IPv6 <b></b>"), std::string::npos);
  EXPECT_NE(html.find("IPv4 Internet <b class=\"fail\">FAIL</b>"), std::string::npos);
  EXPECT_NE(html.find("WinINET proxy <b>off</b>"), std::string::npos);
  EXPECT_NE(html.find("Proxy candidates <b>0 proc / 0 endpoints</b>"), std::string::npos);
}

// The findings sit right after the chips, before the external links, one
// line each, the sentence escaped; without findings the header is unchanged.
TEST(ReportDocument, FindingsBlockAfterTheChips) {
  std::vector<Finding> findings = {
      {Severity::kProblem, "gateway-silent", "Gateway <b>192.168.1.1</b> & co.", {"ev"}},
      {Severity::kOk, "all-clear", "No problem found.", {}}};
  std::string html =
      render_report(direct_host(), TopologyGraph{}, gateway_answers(), "1.2.3", findings);
  std::string block =
      "</div>\n<div class=\"findings\"><div class=\"finding problem\" data-code=\"gateway-silent\">"
      "<b>PROBLEM</b> Gateway &lt;b&gt;192.168.1.1&lt;/b&gt; &amp; co.</div>"
      "<div class=\"finding ok\" data-code=\"all-clear\"><b>OK</b> No problem "
      "found.</div></div>\n" +
      std::string(report_extlinks());
  size_t at = html.find(block);
  ASSERT_NE(at, std::string::npos);
  EXPECT_LT(html.find("<div class=\"chips\">"), at);
  std::string without = render(direct_host());
  EXPECT_EQ(without.find("class=\"findings\""), std::string::npos);
  EXPECT_EQ(html.substr(0, at), without.substr(0, at));
}

// Everything that comes from the host is text on the page, never markup.
TEST(ReportDocument, HostileHostTextIsEscapedEverywhere) {
  const std::string evil = "<img src=x onerror=alert(1)>&\"'";
  const std::string escaped = "&lt;img src=x onerror=alert(1)&gt;&amp;&quot;&#39;";
  Facts f = tun_host();
  f.hostname = evil;
  f.os_name = evil;
  f.collected_at = evil;
  f.adapters[1].name = evil;
  f.egress_v4_adapter->name = evil;
  f.adapters[1].mac_address = evil;
  f.adapters[1].dns_servers = {evil};
  f.egress_v4_adapter->dns_servers = {evil};
  f.proxy_processes = {{310, "mihomo" + evil, evil, "mihomo --secret " + evil}};
  f.processes_by_pid[310] = f.proxy_processes[0];
  f.driver_hits = {{evil, evil, "Running", evil}};
  f.interception.signals = {evil};
  f.proxy_settings.winhttp_text = evil;
  TopologyGraph g;
  g.nodes.push_back(testing::node("n", "</script>" + evil, "", "core"));
  std::string html = render(f, gateway_answers(), g);
  EXPECT_EQ(count(html, "</script>"), 2u);  // the payload's and the viewer's own
  // Inside the payload the name is a JavaScript string; everywhere else it is escaped text.
  size_t start = html.find("window.ND = ") + 12;
  size_t end = html.find(";</script>", start);
  auto payload = nlohmann::json::parse(html.substr(start, end - start));
  EXPECT_EQ(payload["nodes"][0]["label"], "</script>" + evil);
  std::string outside_payload = html.substr(0, start) + html.substr(end);
  EXPECT_EQ(outside_payload.find("<img"), std::string::npos);
  EXPECT_NE(html.find("<title>Corvale Report - " + escaped + "</title>"), std::string::npos);
  EXPECT_NE(html.find("<div class=\"sub\">" + escaped + " &middot; " + escaped), std::string::npos);
  EXPECT_NE(html.find("Host <b>" + escaped + "</b>"), std::string::npos);
  EXPECT_NE(html.find("<div class=\"btitle\">" + escaped + " TUN</div>"), std::string::npos);
  EXPECT_NE(html.find("<div class=\"btitle\">mihomo" + escaped + "</div>"), std::string::npos);
}

// A host text with a right-to-left override or an escape sequence is shown
// as the console shows it ("trojan\u202eexe.sh", not "trojanhs.exe") in every
// header, chip, table and chain block; the page carries no raw control.
TEST(ReportDocument, ControlAndBidiCharactersOfHostTextsAreShownVisibly) {
  const std::string evil = "trojan\u202eexe.sh\x1b[2J\x07";
  const std::string shown = "trojan\\u202eexe.sh\\x1b[2J\\x07";
  Facts f = tun_host();
  f.hostname = f.os_name = evil;
  f.adapters[1].name = f.egress_v4_adapter->name = evil;
  f.adapters[1].dns_servers = {evil};
  f.proxy_processes = {{310, evil, evil, ""}};
  f.processes_by_pid[310] = f.proxy_processes[0];
  f.driver_hits = {{evil, evil, "Running", evil}};
  f.proxy_settings.winhttp_text = evil + "\nline two " + evil;
  std::vector<Finding> findings = {{Severity::kNote, "n", "finding " + evil, {}}};
  std::string html = render_report(f, TopologyGraph{}, gateway_answers(), "1", findings);
  EXPECT_EQ(html.find("\u202e"), std::string::npos);
  EXPECT_EQ(html.find('\x1b'), std::string::npos);
  EXPECT_EQ(html.find('\x07'), std::string::npos);
  for (const std::string& at :
       {"<title>Corvale Report - " + shown, "<div class=\"sub\">" + shown, "Host <b>" + shown,
        "<div class=\"btitle\">" + shown + " TUN", "<td>" + shown + "</td>",
        "<div class=\"btitle\">" + shown, shown + "\nline two " + shown, "finding " + shown})
    EXPECT_NE(html.find(at), std::string::npos) << at;
}

TEST(ReportDocument, NoNetworkLoadsAndPlainOutboundLinks) {
  std::string html = render(tun_host());
  for (const char* loader : {"<script src", "<link", "@import", "<img", "<iframe", "url(http"})
    EXPECT_EQ(html.find(loader), std::string::npos) << loader;
  for (size_t p = html.find("<a "); p != std::string::npos; p = html.find("<a ", p + 1)) {
    std::string tag = html.substr(p, html.find('>', p) - p);
    EXPECT_NE(tag.find("rel=\"noopener noreferrer\""), std::string::npos) << tag;
  }
}

TEST(ReportDocument, NoCommandLineOrSecretReachesThePage) {
  Facts f = tun_host();
  f.proxy_processes[1].command_line = "mihomo -secret lab-secret-7f3a9c";
  f.core_infos.push_back(CoreControllerInfo{});
  f.core_infos[0].config_lines = {"secret: lab-secret-7f3a9c"};
  std::string html = render(f);
  EXPECT_EQ(html.find("lab-secret-7f3a9c"), std::string::npos);
}

}  // namespace
}  // namespace corvale
