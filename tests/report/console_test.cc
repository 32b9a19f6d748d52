#include "report/console.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

Facts sample_facts() {
  Facts f;
  Adapter eth;
  eth.name = eth.description = "enp3s0";
  eth.if_index = 2;
  eth.if_type = kIfTypeEthernet;
  eth.is_up = true;
  eth.link_speed_bps = 1000000000;
  eth.ipv4_addresses = {{"192.168.50.10", 24}};
  eth.ipv6_addresses = {{"2001:db8:50::10", 64}, {"fe80::10", 64}};
  eth.dns_servers = {"10.0.32.32", "10.0.32.33"};
  Adapter tun;
  tun.name = tun.description = std::string(40, 't');
  tun.if_index = 7;
  tun.if_type = kIfTypeTunnel;
  f.adapters = {eth, tun};
  f.routes = {{"0.0.0.0", "192.168.50.1", 2, 100, kFamilyV4, 0},
              {"::", "fe80::1", 2, 1024, kFamilyV6, 0}};
  f.egress_v4 = RouteLookup{2, "192.168.50.1", "192.168.50.10", kFamilyV4};
  f.egress_v4_adapter = eth;
  return f;
}

TEST(Summary, EmptyFactsPrintHeadersLegendsAndNoneFound) {
  std::string s = summary_text(Facts{}, {});
  EXPECT_TRUE(s.starts_with("\n==============================\n  1. Physical links & tunnels\n"));
  EXPECT_TRUE(contains(s,
                       "State  Name                               MediaType       Speed      "
                       "Description\n  [x] = Up   [ ] = Down\n"));
  EXPECT_TRUE(contains(s,
                       "  7. Proxy / Tunnel / VPN processes\n"
                       "==============================\n  none found\n"));
  EXPECT_TRUE(contains(s, "  IPv4 egress -> none\n  IPv6 egress -> none\n"));
  EXPECT_TRUE(contains(s,
                       "  Login 10.0.0.55 rad_user_info : FAIL\n"
                       "      (unrecognized response shape)\n"));
  EXPECT_TRUE(contains(s, "  API 10.0.0.54:8800 HTTP : FAIL\n      (fallback: tcp probe)\n"));
  // Eleven numbered sections plus 6b, in order.
  size_t pos = 0;
  for (const char* t :
       {"1. ", "2. ", "3. ", "4. ", "5. ", "6. ", "6b. ", "7. ", "8. ", "9. ", "10. ", "11. "}) {
    size_t at = s.find(std::string("\n  ") + t, pos);
    ASSERT_NE(at, std::string::npos) << t;
    pos = at + 1;
  }
}

TEST(Summary, AdapterRowsAndRoutes) {
  std::string s = summary_text(sample_facts(), {});
  EXPECT_TRUE(contains(s,
                       "[x]    enp3s0                             802.3           1 Gbps     "
                       "enp3s0\n"));
  // A name longer than its column is printed whole.
  EXPECT_TRUE(contains(s, "[ ]    " + std::string(40, 't') + " IP              0 bps      "));
  EXPECT_TRUE(
      contains(s, "    IPv6(glob): 2001:db8:50::10\n    Gateway   : 192.168.50.1, fe80::1\n"));
  EXPECT_TRUE(
      contains(s, "enp3s0                             Disabled   10.0.32.32, 10.0.32.33\n"));
  EXPECT_TRUE(contains(s,
                       "  IPv4:\n    ifIndex 2    enp3s0                             "
                       "192.168.50.1     metric 100\n  IPv6:\n"));
  EXPECT_TRUE(contains(s,
                       "  IPv4 egress -> enp3s0 (ifIndex 2)  src 192.168.50.10  via "
                       "192.168.50.1\n"));
}

TEST(Summary, CampusSection) {
  Facts f = sample_facts();
  f.campus_probes.reachability = {{"10.0.0.55", {true, 2}}, {"10.0.32.32", {false, -1}}};
  f.campus_probes.portal_ok = true;
  f.campus_probes.portal_title = "Campus Portal";
  f.campus_probes.login = {true, "2023001", "192.168.50.10", "123", "60", "ok"};
  f.campus_probes.probes.resize(5);
  f.campus_probes.probes[4].http = HttpResponse{"", 3, 404};
  for (const char* host : {"10.0.0.55", "10.0.32.32"})
    f.campus_routes[host] = RouteLookup{2, "192.168.50.1", "192.168.50.10", kFamilyV4};
  ProbeResults probes;
  probes.dns = {{"10.0.32.32", DnsProbeResult{"198.18.0.7", 4, true}}};
  std::string s = summary_text(f, probes);
  EXPECT_TRUE(contains(s, "  10.0.0.55       OK\n      via enp3s0 -> 192.168.50.1\n"));
  EXPECT_TRUE(contains(s, "  10.0.32.32      FAIL\n"));
  EXPECT_TRUE(contains(s, "  Portal 10.0.0.55 HTTP : OK\n      title = Campus Portal\n"));
  EXPECT_TRUE(contains(s,
                       "      id = 2023001   ip = 192.168.50.10   sum_bytes = 123   "
                       "sum_seconds = 60\n"));
  EXPECT_TRUE(contains(s,
                       "  DNS 10.0.32.32      OK\n      -> 198.18.0.7 in 4 ms via enp3s0 -> "
                       "192.168.50.1 [proxy-intercepted]\n"));
  EXPECT_TRUE(contains(s, "  DNS 10.0.32.33      FAIL\n      -> no answer\n"));
  EXPECT_TRUE(contains(s, "  API 10.0.0.54:8800 HTTP : OK\n      status = 404\n"));
}

// Each campus host is named by its own route, and a resolver counts as
// intercepted only when its own route enters a tunnel (or it answers with a
// fake-IP address): split tunnelling keeps the campus off the tunnel.
TEST(Summary, CampusHostsByTheirOwnRoutes) {
  Facts f = sample_facts();
  f.egress_v4 = RouteLookup{7, std::nullopt, "198.18.0.1", kFamilyV4};
  f.assessments_by_index[2].verdict = AdapterVerdict::kCarrier;
  f.assessments_by_index[7].verdict = AdapterVerdict::kTunnel;
  const RouteLookup campus_route{2, "192.168.50.1", "192.168.50.10", kFamilyV4};
  f.campus_routes = {{"10.0.0.55", campus_route},
                     {"10.0.32.32", campus_route},
                     {"10.0.32.33", RouteLookup{7, std::nullopt, "198.18.0.1", kFamilyV4}}};
  ProbeResults probes;
  probes.dns = {{"10.0.32.32", DnsProbeResult{"203.0.113.80", 4, true}},
                {"10.0.32.33", DnsProbeResult{"203.0.113.80", 5, true}}};
  std::string s = summary_text(f, probes);
  const std::string tun(40, 't');
  EXPECT_TRUE(contains(s, "  10.0.0.55       FAIL\n      via enp3s0 -> 192.168.50.1\n"));
  EXPECT_TRUE(contains(s, "  10.0.32.33      FAIL\n      via " + tun + "\n"));
  EXPECT_TRUE(contains(s, "  10.0.0.54       FAIL\n      via none\n"));
  EXPECT_TRUE(contains(s,
                       "  DNS 10.0.32.32      OK\n      -> 203.0.113.80 in 4 ms via enp3s0 -> "
                       "192.168.50.1\n"));
  EXPECT_TRUE(contains(s, "  DNS 10.0.32.33      OK\n      -> 203.0.113.80 in 5 ms via " + tun +
                              " [proxy-intercepted]\n"));
}

}  // namespace
}  // namespace corvale

namespace corvale {
namespace {

TEST(Summary, ListenersSortedByPortThenAddress) {
  Facts f;
  f.tcp_listeners = {{"0.0.0.0", 8080, "", 0, kTcpListen, 9},
                     {"::", 443, "", 0, kTcpListen, 7},
                     {"127.0.0.1", 443, "", 0, kTcpListen, 8}};
  f.processes_by_pid[7] = {7, "nginx", "", ""};
  std::string s = summary_text(f, {});
  size_t a = s.find("  127.0.0.1:443 "), b = s.find("  [::]:443 "), c = s.find("  0.0.0.0:8080 ");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_NE(s.find("  [::]:443" + std::string(33, ' ') + "TCP      7        nginx\n"),
            std::string::npos);
}

}  // namespace
}  // namespace corvale

namespace corvale {
namespace {

// Section 12 comes last, one line per finding with the severity padded to
// eight; a hostile adapter name in a sentence reaches the terminal defused.
TEST(Summary, DiagnosisSectionLast) {
  std::vector<Finding> findings = {
      {Severity::kProblem, "gateway-silent", "Gateway 10.1.1.1 (eth\x1b[2J0) does not answer.", {}},
      {Severity::kNote, "gateway-ignores-ping", "A note.", {}},
      {Severity::kOk, "all-clear", "No problem found.", {}}};
  std::string s = summary_text(Facts{}, {}, findings);
  size_t at = s.find("  12. Diagnosis\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(at, s.find("  11. ZEK campus infra"));
  EXPECT_EQ(s.substr(s.find('\n', s.find("=\n", at + 1)) + 1),
            "PROBLEM  Gateway 10.1.1.1 (eth\\x1b[2J0) does not answer.\n"
            "NOTE     A note.\n"
            "OK       No problem found.\n");
  EXPECT_EQ(summary_text(Facts{}, {}).find("12. Diagnosis"), std::string::npos);
}

}  // namespace
}  // namespace corvale

namespace corvale {
namespace {

// Every text the host or the network controls reaches the terminal
// neutralised; the columns after a neutralised name stay aligned.
TEST(Summary, UntrustedTextsAreTerminalSafe) {
  Facts f = sample_facts();
  const std::string esc = "\x1b[31m\a";
  f.adapters[0].name = f.adapters[0].description = "en\x1b]0;x\a";
  f.adapters[0].dns_servers = {"10.0.32.32 #\x1b[2J"};
  f.upstream_dns_servers = {"10.0.32.32",
                            "\xe2\x80\xae"
                            "1.1"};
  f.proxy_processes = {{41, "xray" + esc, "/opt/x\rray", ""}};
  f.processes_by_pid[41] = f.proxy_processes[0];
  f.tcp_listeners = {{"127.0.0.1", 10808, "", 0, kTcpListen, 41}};
  f.campus_probes.portal_title = "Portal\x1b[8m\x9b";
  f.campus_probes.login.recognized = true;
  f.campus_probes.login.user_name = "u\x1b";
  f.proxy_settings.proxy_server = "h\b:1";
  std::string s = summary_text(f, {});
  for (unsigned char c : s) EXPECT_TRUE(c >= 0x20 || c == '\n') << "raw control " << int(c);
  EXPECT_EQ(s.find("\xe2\x80\xae"), std::string::npos);
  for (const char* line : {
           "[x]    en\\x1b]0;x\\x07                     802.3           1 Gbps     "
           "en\\x1b]0;x\\x07\n",
           "  xray\\x1b[31m\\x07             41       /opt/x\\x0dray\n",
           "  127.0.0.1:10808                          TCP      41       xray\\x1b[31m\\x07\n",
           "en\\x1b]0;x\\x07                     Disabled   10.0.32.32 #\\x1b[2J\n",
           "  Upstream (systemd-resolved): 10.0.32.32, \\u202e1.1\n",
           "      title = Portal\\x1b[8m\\x9b\n",
           "  ProxyServer   : h\\x08:1\n",
       })
    EXPECT_NE(s.find(line), std::string::npos) << line << "\n---\n" << s;
  // Without a stub resolver there is no upstream line.
  EXPECT_EQ(summary_text(sample_facts(), {}).find("Upstream"), std::string::npos);
}

}  // namespace
}  // namespace corvale
