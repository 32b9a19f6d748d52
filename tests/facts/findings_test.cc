// The diagnosis rules on facts rebuilt from the lab's real captures
// (tests/data/captures/SCENARIO), with the probe outcomes each scenario's
// run gave; each rule's case where it must fire and one where it must not.
#include "facts/findings.h"

#include <gtest/gtest.h>

#include <map>

#include "support/captured_host.h"
#include "facts/adapter_assessment.h"
#include "facts/interception.h"
#include "mihomo/controller.h"
#include "util/text.h"

namespace corvale {
namespace {

using testing::read_data;

Facts captured_host(const std::string& scenario) { return testing::captured_host_facts(scenario); }

// What one lab run's probes gave.
struct Outcome {
  bool gateways = true;
  bool internet_v4 = true;
  bool internet_v6 = true;
  bool campus = true;  // pings, portal, API and the campus resolvers
  std::string login_error = "ok";
};

void set_outcome(Facts& f, const Outcome& o) {
  f.gateway_probes.clear();
  for (const auto& r : f.routes)
    if (is_default_route(r) && has_conventional_gateway(r))
      f.gateway_probes.push_back({pingable_gateway(r), r.if_index, r.family, o.gateways});
  f.internet_probes.v4 = o.internet_v4 ? PingResult{true, 1} : PingResult{};
  f.internet_probes.v6 = o.internet_v6 ? PingResult{true, 1} : PingResult{};
  CampusProbes& c = f.campus_probes;
  c = {};
  for (const char* h : {"10.0.0.55", "10.0.32.32", "10.0.32.33", "10.0.0.54"})
    c.reachability.push_back({h, o.campus ? PingResult{true, 1} : PingResult{}});
  c.probes.resize(5);
  DnsProbeResult answer{"203.0.113.80", 1, true};
  if (o.campus) {
    c.probes[0].http = HttpResponse{"<title>Campus Network Portal</title>", 2, 200};
    c.probes[1].http = HttpResponse{"jQuery1124({})", 2, 200};
    c.probes[4].http = HttpResponse{"", 2, 200};
    c.probes[2].dns = c.probes[3].dns = answer;
    c.portal_ok = true;
    c.portal_title = "Campus Network Portal";
    c.login.error = o.login_error;
    c.login.recognized = true;
    if (o.login_error == "ok") c.login.user_name = "20230001";
  } else {
    c.probes[2].dns = c.probes[3].dns = DnsProbeResult{};
    c.probes[4].tcp_fallback = TcpFallback::kFailed;
  }
}

// The driver's resolver results: every configured IPv4 resolver and the
// campus ones, answering or not.
ResolverResults resolvers_of(const Facts& f, bool answer) {
  ResolverResults r;
  for (const auto& a : f.adapters)
    for (const auto& s : a.dns_servers)
      if (s.find(':') == std::string::npos)
        r[s] = answer ? DnsProbeResult{"203.0.113.80", 1, true} : DnsProbeResult{};
  for (const char* s : {"10.0.32.32", "10.0.32.33"})
    r[s] = answer ? DnsProbeResult{"203.0.113.80", 1, true} : DnsProbeResult{};
  return r;
}

struct Lab {
  Facts facts;
  ResolverResults dns;
  // The effective interception level; absent: decided from the facts, as the driver does.
  std::optional<InterceptionLevel> level = InterceptionLevel::kNone;
  std::vector<Finding> run() const {
    Facts f = facts;
    if (level)
      f.interception.effective = *level;
    else
      decide_interception(f);
    return diagnose(f, dns);
  }
};

Lab lab(const std::string& scenario, const Outcome& o = {}) {
  Lab l{captured_host(scenario), {}, InterceptionLevel::kNone};
  set_outcome(l.facts, o);
  l.dns = resolvers_of(l.facts, o.campus && o.internet_v4);
  return l;
}

const Finding* find(const std::vector<Finding>& all, std::string_view code) {
  for (const auto& x : all)
    if (x.code == code) return &x;
  return nullptr;
}

std::vector<std::string> codes(const std::vector<Finding>& all) {
  std::vector<std::string> out;
  for (const auto& x : all) out.push_back(x.code);
  return out;
}

std::vector<std::string> problems(const std::vector<Finding>& all) {
  std::vector<std::string> out;
  for (const auto& x : all)
    if (x.severity == Severity::kProblem) out.push_back(x.code);
  return out;
}

class Findings : public ::testing::Test {
 protected:
  void SetUp() override {
    // The captures are committed: without them every case here would pass
    // on nothing.
    ASSERT_FALSE(read_data("captures/direct/ip_addr.json").empty())
        << "committed lab captures are missing (tests/data/captures)";
  }
};

TEST_F(Findings, HealthyHostGivesExactlyOneOk) {
  auto all = lab("direct").run();
  ASSERT_EQ(codes(all), std::vector<std::string>{"all-clear"});
  EXPECT_EQ(all[0].severity, Severity::kOk);
  EXPECT_EQ(all[0].text,
            "No problem found: link, gateway, DNS, Internet and campus portal answer; no "
            "interception.");
  EXPECT_FALSE(all[0].evidence.empty());
}

// The sentence goes to the console in the translator's language, built from
// translated parts; parts the catalog lacks stay English, and --json's text
// stays English whatever the catalog says.
TEST_F(Findings, SentencesAreShownInTheTranslatorsLanguage) {
  Lab l = lab("direct");
  std::map<std::string, std::string> zh = {{"No problem found{}{}.", "未发现问题{}{}。"},
                                           {": {} answer", "：{}均有应答"},
                                           {"link", "链路"},
                                           {"Internet", "互联网"},
                                           {", ", "、"},
                                           {"{} and {}", "{} 和 {}"},
                                           {"; no interception", "；没有流量拦截"}};
  auto all = diagnose(l.facts, l.dns, [&](const char* msgid) {
    auto it = zh.find(msgid);
    return it == zh.end() ? std::string(msgid) : it->second;
  });
  ASSERT_EQ(codes(all), std::vector<std::string>{"all-clear"});
  EXPECT_EQ(all[0].display(),
            "未发现问题：链路、gateway、DNS、互联网 和 campus portal均有应答；没有流量拦截。");
  EXPECT_EQ(all[0].text,
            "No problem found: link, gateway, DNS, Internet and campus portal answer; no "
            "interception.");
}

uint32_t tinyproxy_pid(const Facts& f) {
  for (const auto& s : f.tcp_listeners)
    if (s.local_port == 8888) return s.pid;
  return 0;
}

TEST_F(Findings, ExplicitProxiesAreANoteNotAProblem) {
  Lab l = lab("explicit");
  l.facts.proxy_settings.endpoints = {{"HTTP_PROXY", "127.0.0.1", "http", 8888}};
  for (const auto& s : l.facts.tcp_listeners)
    if (s.local_port == 1080 || s.local_port == 10808) {
      ProxyCandidateAssessment a;
      a.host = s.local_address;
      a.port = s.local_port;
      a.pid = s.pid;
      a.process_name = s.local_port == 1080 ? "microsocks" : "v2ray";
      a.protocol = ProxyProtocol::kSocks5;
      l.facts.interception.protocol_proxy_listeners.push_back(a);
    }
  l.facts.interception.level = InterceptionLevel::kPossible;
  l.level = InterceptionLevel::kPossible;  // as if the explicit policy did not explain it
  l.facts.interception.score = 5;
  auto all = l.run();
  EXPECT_TRUE(problems(all).empty()) << ::testing::PrintToString(codes(all));
  EXPECT_EQ(codes(all), (std::vector<std::string>{"interception-possible", "all-clear"}));
  EXPECT_EQ(find(all, "interception-possible")->severity, Severity::kNote);
  EXPECT_NE(find(all, "interception-possible")->text.find("127.0.0.1:1080 (microsocks, SOCKS5)"),
            std::string::npos);
  EXPECT_EQ(find(all, "all-clear")->text,
            "No problem found: link, gateway, DNS, Internet and campus portal answer.");

  // Decided from the facts: tinyproxy listens where HTTP_PROXY points and no
  // tunnel carries traffic, so the explicit setting explains the evidence.
  l.level.reset();
  l.facts.processes_by_pid[tinyproxy_pid(l.facts)] = {tinyproxy_pid(l.facts), "tinyproxy", "", ""};
  auto attributed = l.run();
  EXPECT_EQ(codes(attributed), (std::vector<std::string>{"explicit-proxy", "all-clear"}));
  EXPECT_EQ(attributed[0].text,
            "Programs that follow HTTP_PROXY send their traffic to 127.0.0.1:8888 (tinyproxy); "
            "other traffic leaves directly through enp3s0.");
}

TEST_F(Findings, NoAdapterUpAndNoDefaultRoute) {
  // bare: loopback only. The missing route is not told again.
  Lab bare =
      lab("bare", {.gateways = false, .internet_v4 = false, .internet_v6 = false, .campus = false});
  auto all = bare.run();
  ASSERT_TRUE(find(all, "no-adapter-up"));
  EXPECT_EQ(find(all, "no-adapter-up")->text,
            "No network adapter besides loopback exists: this host has no network link. "
            "Connect a cable or a Wi-Fi adapter.");
  EXPECT_FALSE(find(all, "no-default-route"));
  EXPECT_FALSE(find(all, "all-clear"));

  // direct with its wired link down: the Wi-Fi adapter is named too.
  Lab down = lab("direct", {.gateways = false, .internet_v4 = false, .campus = false});
  for (auto& a : down.facts.adapters)
    if (a.name == "enp3s0") a.is_up = false;
  EXPECT_EQ(find(down.run(), "no-adapter-up")->text,
            "No network adapter is up (enp3s0, wlp2s0 down): this host has no network link. "
            "Plug in the cable or connect to Wi-Fi.");

  // direct without its IPv4 default route.
  Lab noroute = lab("direct", {.internet_v4 = false, .campus = false});
  std::erase_if(noroute.facts.routes,
                [](const RouteEntry& r) { return r.family == kFamilyV4 && is_default_route(r); });
  set_outcome(noroute.facts, {.internet_v4 = false, .campus = false});
  auto nr = noroute.run();
  ASSERT_TRUE(find(nr, "no-default-route"));
  EXPECT_EQ(nr[0].code, "no-default-route");
  EXPECT_FALSE(find(lab("direct").run(), "no-default-route"));
  EXPECT_FALSE(find(lab("direct").run(), "no-adapter-up"));
}

TEST_F(Findings, GatewaySilentAndGatewayIgnoringPing) {
  // offline: same configuration as direct, nothing answers.
  auto off = lab("offline",
                 {.gateways = false, .internet_v4 = false, .internet_v6 = false, .campus = false})
                 .run();
  EXPECT_EQ(problems(off), std::vector<std::string>{"gateway-silent"});
  EXPECT_EQ(off[0].text,
            "Gateway 192.168.50.1 (enp3s0) does not answer; the Internet and the campus are "
            "unreachable. Check the cable / Wi-Fi association.");
  EXPECT_NE(std::find(off[0].evidence.begin(), off[0].evidence.end(),
                      "ping gateway fe80::1 (enp3s0): no answer"),
            off[0].evidence.end());
  EXPECT_FALSE(find(off, "internet-silent"));
  EXPECT_FALSE(find(off, "ipv6-broken"));
  EXPECT_FALSE(find(off, "all-clear"));

  // A gateway that drops ping while the Internet answers is only a note.
  auto quiet = lab("direct", {.gateways = false}).run();
  EXPECT_FALSE(find(quiet, "gateway-silent"));
  ASSERT_TRUE(find(quiet, "gateway-ignores-ping"));
  EXPECT_EQ(find(quiet, "gateway-ignores-ping")->text,
            "Gateway 192.168.50.1 (enp3s0) does not answer ping, but the Internet does: the "
            "gateway only ignores ping.");
  EXPECT_TRUE(find(quiet, "all-clear"));
  EXPECT_FALSE(find(lab("direct").run(), "gateway-ignores-ping"));
}

TEST_F(Findings, CampusLogOutRestsOnThePortalsWord) {
  Lab out = lab("direct",
                {.internet_v4 = false, .internet_v6 = false, .login_error = "not_online_error"});
  auto all = out.run();
  EXPECT_EQ(problems(all), std::vector<std::string>{"campus-logged-out"});
  EXPECT_EQ(all[0].text,
            "The campus portal 10.0.0.55 answers, but says this host is not logged in "
            "(\"not_online_error\"): the Internet stays blocked until you log in. Open "
            "http://10.0.0.55/ in a browser and log in.");
  EXPECT_FALSE(find(all, "internet-silent"));

  // Logged in (an empty user name alone proves nothing): the Internet being
  // silent is a fault beyond the gateway.
  Lab in = lab("direct", {.internet_v4 = false, .internet_v6 = false});
  in.facts.campus_probes.login.user_name.clear();
  auto other = in.run();
  EXPECT_FALSE(find(other, "campus-logged-out"));
  ASSERT_TRUE(find(other, "internet-silent"));
  EXPECT_EQ(find(other, "internet-silent")->text,
            "Gateway 192.168.50.1 (enp3s0) answers, but the Internet (223.5.5.5) does not: the "
            "fault is beyond the gateway. Check whether the network wants a log-in, or ask its "
            "admin.");

  // Not logged in but the Internet answers anyway: nothing to tell.
  EXPECT_FALSE(find(lab("direct", {.login_error = "not_online_error"}).run(), "campus-logged-out"));
}

TEST_F(Findings, DnsSilentWhileAddressesAnswer) {
  Lab l = lab("direct");
  l.dns = resolvers_of(l.facts, false);
  l.facts.campus_probes.probes[2].dns = l.facts.campus_probes.probes[3].dns = DnsProbeResult{};
  auto all = l.run();
  EXPECT_EQ(problems(all), std::vector<std::string>{"dns-silent"});
  EXPECT_EQ(all[0].text,
            "DNS servers 10.0.32.32, 10.0.32.33 do not answer, though the Internet (223.5.5.5) "
            "does: names do not resolve, so web pages do not load. Use another DNS server or ask "
            "the network's admin.");
  // The campus resolvers are the host's own: not told twice.
  EXPECT_FALSE(find(all, "campus-dns-silent"));

  // Nothing answers at all: not a DNS fault.
  Lab dark = lab("direct", {.internet_v4 = false, .internet_v6 = false});
  dark.dns = resolvers_of(dark.facts, false);
  EXPECT_FALSE(find(dark.run(), "dns-silent"));

  // One of two silent: a warning about the slow one.
  Lab half = lab("direct");
  half.dns["10.0.32.33"] = DnsProbeResult{};
  auto h = half.run();
  EXPECT_FALSE(find(h, "dns-silent"));
  ASSERT_TRUE(find(h, "dns-server-silent"));
  EXPECT_EQ(find(h, "dns-server-silent")->severity, Severity::kWarning);
  EXPECT_EQ(find(h, "dns-server-silent")->text,
            "DNS server 10.0.32.33 does not answer (10.0.32.32 does): lookups that try it first "
            "wait for a time-out. Remove it from the network settings.");
}

TEST_F(Findings, LoopbackResolverWithoutListener) {
  // bare: resolv.conf names 127.0.0.53 and no socket serves port 53.
  Lab bare =
      lab("bare", {.gateways = false, .internet_v4 = false, .internet_v6 = false, .campus = false});
  auto found = bare.run();
  const Finding* x = find(found, "dns-loopback-dead");
  ASSERT_TRUE(x);
  EXPECT_EQ(x->severity, Severity::kProblem);
  EXPECT_EQ(x->text,
            "DNS points at 127.0.0.53, but nothing listens on port 53 there: name lookups fail. "
            "Start the local resolver (for example systemd-resolved) or point /etc/resolv.conf "
            "at a working server.");

  for (const char* bind : {"127.0.0.53", "0.0.0.0"}) {
    Lab served = bare;
    served.facts.udp_sockets.push_back({bind, 53, "", 0, 0, 310});
    EXPECT_FALSE(find(served.run(), "dns-loopback-dead")) << bind;
  }
  Lab tcp_only = bare;
  tcp_only.facts.tcp_listeners.push_back({"127.0.0.53", 53, "", 0, kTcpListen, 310});
  EXPECT_FALSE(find(tcp_only.run(), "dns-loopback-dead"));
  Lab other_port = bare;
  other_port.facts.udp_sockets.push_back({"127.0.0.53", 5353, "", 0, 0, 310});
  EXPECT_TRUE(find(other_port.run(), "dns-loopback-dead"));

  // Behind a working resolver it only slows lookups down.
  Lab mixed = lab("direct");
  for (auto& a : mixed.facts.adapters) a.dns_servers.insert(a.dns_servers.begin(), "127.0.0.1");
  EXPECT_EQ(find(mixed.run(), "dns-loopback-dead")->severity, Severity::kWarning);
}

TEST_F(Findings, FakeIpAnswers) {
  Lab l = lab("direct");
  l.dns["10.0.32.32"].answer = "198.18.0.7";
  auto found = l.run();
  const Finding* x = find(found, "dns-fake-ip");
  ASSERT_TRUE(x);
  EXPECT_EQ(x->text,
            "DNS server 10.0.32.32 answers with the fake-IP address 198.18.0.7: a proxy core "
            "answers name lookups, and those addresses only work through it.");
  Lab campus = lab("direct");
  campus.dns.clear();
  campus.facts.campus_probes.probes[3].dns->answer = "198.19.255.1";
  EXPECT_EQ(find(campus.run(), "dns-fake-ip")->evidence,
            std::vector<std::string>{"DNS 10.0.32.33 -> 198.19.255.1"});
  EXPECT_FALSE(find(lab("direct").run(), "dns-fake-ip"));
}

TEST_F(Findings, ProxySettingWithoutListener) {
  Lab dead = lab("direct");
  dead.facts.proxy_settings.endpoints = {{"HTTP_PROXY", "127.0.0.1", "http", 7890},
                                         {"https_proxy", "127.0.0.1", "http", 7890},
                                         {"ALL_PROXY", "10.9.9.9", "socks5", 1080},
                                         {"config:/etc/clash/config.yaml", "127.0.0.1", "", 7891}};
  auto all = dead.run();
  EXPECT_EQ(problems(all), std::vector<std::string>{"proxy-setting-dead"});
  EXPECT_EQ(all[0].text,
            "HTTP_PROXY and https_proxy point at 127.0.0.1:7890, but nothing listens there: "
            "programs that use it cannot connect. Start the proxy or unset HTTP_PROXY and "
            "https_proxy.");
  EXPECT_EQ(all[0].evidence,
            std::vector<std::string>{"HTTP_PROXY, https_proxy -> 127.0.0.1:7890: no listener"});

  // tun: mihomo listens on 127.0.0.1:7890.
  Lab live = lab("tun");
  live.facts.proxy_settings.endpoints = {{"HTTP_PROXY", "localhost", "http", 7890}};
  EXPECT_FALSE(find(live.run(), "proxy-setting-dead"));

  // A wildcard bind takes connections for the host's own address.
  Lab wildcard = lab("direct");
  wildcard.facts.proxy_settings.endpoints = {{"HTTP_PROXY", "192.168.50.10", "http", 3128}};
  EXPECT_TRUE(find(wildcard.run(), "proxy-setting-dead"));
  wildcard.facts.tcp_listeners.push_back({"0.0.0.0", 3128, "", 0, kTcpListen, 77});
  EXPECT_FALSE(find(wildcard.run(), "proxy-setting-dead"));
}

// The listener must take the connection the setting makes: a proxy on
// 0.0.0.0 refuses HTTP_PROXY=http://[::1]:7890. "*" is a dual-stack socket.
TEST_F(Findings, ProxySettingNeedsAListenerThatAcceptsIt) {
  struct Row {
    const char* host;
    const char* listener;
    bool dead;
  } rows[] = {
      {"::1", "0.0.0.0", true},   {"::1", "*", false},           {"127.0.0.1", "0.0.0.0", false},
      {"127.0.0.1", "::", true},  {"127.0.0.1", "::1", true},    {"localhost", "::1", false},
      {"localhost", "::", false}, {"192.168.50.10", "::", true},
  };
  for (const auto& r : rows) {
    Lab l = lab("direct");
    l.facts.proxy_settings.endpoints = {{"HTTP_PROXY", r.host, "http", 7890}};
    bool dual = std::string_view(r.listener) == "*";
    l.facts.tcp_listeners.push_back(
        {dual ? "0.0.0.0" : r.listener, 7890, "", 0, kTcpListen, 77, dual});
    EXPECT_EQ(find(l.run(), "proxy-setting-dead") != nullptr, r.dead)
        << r.host << " vs " << r.listener;
  }
}

// The system proxy a GUI left on: the desktop is named with the place to
// turn it off; a working one is a note; the generic rule stays silent.
TEST_F(Findings, DesktopSystemProxy) {
  struct Row {
    const char* scenario;  // tun: a listener on 127.0.0.1:7890
    const char* desktop;
    const char* code;
    const char* text;
  } rows[] = {
      {"direct", "GNOME", "system-proxy-dead",
       "The GNOME system proxy points at 127.0.0.1:7890, where nothing accepts the connection: "
       "browsers and desktop programs that follow it cannot connect (a proxy GUI that quit may "
       "have left it on). Start the proxy, or turn the system proxy off in Settings → Network → "
       "Network Proxy (or: gsettings set org.gnome.system.proxy mode 'none')."},
      {"direct", "KDE", "system-proxy-dead",
       "The KDE system proxy points at 127.0.0.1:7890, where nothing accepts the connection: "
       "browsers and desktop programs that follow it cannot connect (a proxy GUI that quit may "
       "have left it on). Start the proxy, or turn the system proxy off in System Settings → "
       "Network → Proxy."},
      {"tun", "KDE", "system-proxy-on",
       "The KDE system proxy sends browsers and desktop programs to 127.0.0.1:7890; "
       "programs that ignore it connect as the routes say."},
  };
  for (const auto& r : rows) {
    Lab l = lab(r.scenario);
    ProxySettings& s = l.facts.proxy_settings;
    s.desktop = r.desktop;
    s.proxy_enabled = true;
    s.proxy_server = "http=127.0.0.1:7890;socks=127.0.0.1:7890";
    std::string source = std::string(r.desktop) + " proxy";
    s.endpoints = {{source, "127.0.0.1", "http", 7890}, {source, "127.0.0.1", "socks", 7890}};
    auto all = l.run();
    const Finding* hit = find(all, r.code);
    ASSERT_TRUE(hit) << r.scenario << " " << r.desktop;
    EXPECT_EQ(hit->text, r.text);
    EXPECT_FALSE(find(all, "proxy-setting-dead")) << r.desktop;
    // Switched off, the same setting names nothing.
    s.proxy_enabled = false;
    EXPECT_FALSE(find(l.run(), r.code)) << r.desktop;
  }
}

TEST_F(Findings, TunnelWithItsCoreAndWithout) {
  Lab tun = lab("tun", {.internet_v4 = false, .campus = false});
  tun.level = InterceptionLevel::kVisibleTunnel;
  tun.dns = resolvers_of(tun.facts, false);
  ProcessInfo mihomo{3, "mihomo", "/usr/bin/python3.11", "mihomo -d /tmp/m"};
  tun.facts.proxy_processes = {mihomo};
  tun.facts.processes_by_pid[3] = mihomo;
  CoreControllerInfo core;
  core.pid = 3;
  core.process_name = "mihomo";
  // The controller's real answer.
  core.connections = parse_connections(read_data("captures/tun/mihomo_connections.json"));
  ASSERT_EQ(core.connections.size(), 1u);
  tun.facts.core_infos = {core};
  auto all = tun.run();
  EXPECT_FALSE(find(all, "stale-tunnel"));
  ASSERT_TRUE(find(all, "tunnel-default-route"));
  EXPECT_EQ(find(all, "tunnel-default-route")->text,
            "All IPv4 traffic goes through tun0 (Tunnel, 0.98), owned by mihomo (pid 3); the "
            "proxy core reports firefox's connections sent to its proxy port.");
  ASSERT_TRUE(find(all, "tunnel-internet-silent"));
  EXPECT_EQ(find(all, "tunnel-internet-silent")->severity, Severity::kWarning);
  EXPECT_EQ(find(all, "tunnel-internet-silent")->text,
            "223.5.5.5 does not answer through tun0: the tunnel's proxy core (mihomo) may have no "
            "working upstream, or it does not pass ping. Check the core's proxies and its log.");
  // A VPN client without a controller is not called a proxy core.
  Lab vpn = tun;
  vpn.facts.core_infos.clear();
  vpn.facts.proxy_processes = {{21, "openvpn", "", ""}};
  auto v = vpn.run();
  ASSERT_TRUE(find(v, "tunnel-internet-silent"));
  EXPECT_EQ(find(v, "tunnel-internet-silent")->text,
            "223.5.5.5 does not answer through tun0: the tunnel's program (openvpn) may have no "
            "working upstream, or it does not pass ping. Check its configuration and its log.");
  EXPECT_EQ(
      find(v, "tunnel-default-route")->text,
      "All IPv4 traffic goes through tun0 (Tunnel, 0.98), probably owned by openvpn (pid 21).");
  EXPECT_TRUE(problems(all).empty()) << ::testing::PrintToString(codes(all));

  // The same tunnel with no process left: the core crashed and left it.
  Lab stale = tun;
  stale.facts.proxy_processes.clear();
  stale.facts.core_infos.clear();
  auto s = stale.run();
  EXPECT_EQ(problems(s), std::vector<std::string>{"stale-tunnel"});
  EXPECT_EQ(s[0].text,
            "tun0 holds the IPv4 default route, but no proxy core or VPN program runs: a core "
            "that stopped left its tunnel behind and DNS still points at its resolver "
            "198.18.0.2, so traffic goes nowhere. Restart the proxy core, or remove the route "
            "(ip route del default dev tun0) and restore /etc/resolv.conf.");
  EXPECT_FALSE(find(s, "tunnel-default-route"));
  EXPECT_FALSE(find(s, "tunnel-internet-silent"));

  // A kernel tunnel has no process behind it by design.
  Lab wg = stale;
  for (auto& a : wg.facts.adapters)
    if (a.name == "tun0") a.name = "wg0";
  EXPECT_FALSE(find(wg.run(), "stale-tunnel"));
  EXPECT_FALSE(find(lab("direct").run(), "tunnel-default-route"));
}

// A GUI (clash-verge) runs its core (verge-mihomo) as a child: the core owns
// the tunnel, and a controller that did not answer is never "no connections".
TEST_F(Findings, GuiFrontEndIsNotTheCore) {
  struct Case {
    std::string name;
    bool core_listed, answered;
    std::string want;
    std::vector<std::pair<std::string, std::string>> conns = {};  // process, inbound type
  };
  const std::string head = "All IPv4 traffic goes through tun0 (Tunnel, 0.98), ";
  std::vector<Case> cases = {
      {"controller silent", true, false,
       head + "owned by verge-mihomo (pid 8); the proxy core's controller did not answer."},
      {"controller answered, nothing open", true, true,
       head + "owned by verge-mihomo (pid 8); the proxy core reports no connections."},
      {"connections by inbound", true, true,
       head + "owned by verge-mihomo (pid 8); the proxy core reports firefox's connections "
              "captured by the tunnel, curl and telegram's connections sent to its proxy port and "
              "wget's connections.",
       {{"firefox", "Tun"}, {"telegram", "mixed/mixed-in"}, {"curl", "Socks5"}, {"wget", ""}}},
      {"connections without their programs", true, true,
       head + "owned by verge-mihomo (pid 8); the proxy core lists connections but not which "
              "programs opened them.",
       {{"", "Tun"}}},
      {"no controller found at all", false, false,
       head + "probably owned by verge-mihomo (pid 8)."},
  };
  for (const auto& c : cases) {
    Lab tun = lab("tun", {.internet_v4 = true, .campus = false});
    tun.level = InterceptionLevel::kVisibleTunnel;
    tun.dns = resolvers_of(tun.facts, false);
    ProcessInfo gui{7, "clash-verge", "/usr/bin/clash-verge", "clash-verge"};
    ProcessInfo core{8, "verge-mihomo", "/usr/bin/verge-mihomo", "verge-mihomo -d /app"};
    tun.facts.proxy_processes = {gui, core};
    tun.facts.processes_by_pid[7] = gui;
    tun.facts.processes_by_pid[8] = core;
    if (c.core_listed) {
      CoreControllerInfo info;
      info.pid = 8;
      info.process_name = "verge-mihomo";
      if (c.answered) info.selected_controller = "unix:/tmp/verge/verge-mihomo.sock";
      for (const auto& [process, type] : c.conns) {
        info.connections.emplace_back();
        info.connections.back().process = process;
        info.connections.back().inbound_type = type;
      }
      tun.facts.core_infos = {info};
    }
    auto all = tun.run();
    ASSERT_TRUE(find(all, "tunnel-default-route")) << c.name;
    EXPECT_EQ(find(all, "tunnel-default-route")->text, c.want) << c.name;
  }
}

// A Docker network on 10.0.32.0/24 takes the campus resolvers' route.
Lab bridge_capture(const std::string& link_kind, const std::string& name, bool holds_default) {
  Lab l = lab("direct");
  Adapter br;
  br.name = name;
  br.description = name;
  br.if_index = 9;
  br.is_up = true;
  br.link_kind = link_kind;
  br.ipv4_addresses = {{"10.0.32.1", 24}};
  l.facts.adapters.push_back(br);
  l.facts.routes.push_back({"10.0.32.0", "", 9, 0, kFamilyV4, 24});
  if (holds_default) l.facts.routes.push_back({"0.0.0.0", "10.0.32.254", 9, 900, kFamilyV4, 0});
  for (const char* h : {"10.0.32.32", "10.0.32.33"}) {
    l.facts.campus_routes[h] = RouteLookup{9, std::nullopt, "10.0.32.1", kFamilyV4};
    l.facts.resolver_routes[h] = RouteLookup{9, std::nullopt, "10.0.32.1", kFamilyV4};
    l.dns[h] = DnsProbeResult{};
  }
  l.facts.campus_probes.probes[2].dns = l.facts.campus_probes.probes[3].dns = DnsProbeResult{};
  return l;
}

TEST_F(Findings, LocalNetworkCapturesProbedAddresses) {
  struct Case {
    const char* what;
    Lab lab;
    bool captured;
  };
  const Case cases[] = {
      {"Docker bridge by kind", bridge_capture("bridge", "br-3f2a1c", false), true},
      {"libvirt network by name", bridge_capture("", "virbr0", false), true},
      {"a bridge that carries a default route is the network",
       bridge_capture("bridge", "br0", true), false},
      {"a plain link is the network", bridge_capture("", "enp0s31f6", false), false},
  };
  for (const auto& c : cases) {
    auto all = c.lab.run();
    EXPECT_EQ(find(all, "local-route-capture") != nullptr, c.captured) << c.what;
    // Silent campus resolvers are that network's doing, not the admin's.
    EXPECT_EQ(find(all, "dns-silent") != nullptr, !c.captured) << c.what;
    EXPECT_FALSE(c.captured && find(all, "campus-dns-silent")) << c.what;
  }
  auto all = cases[0].lab.run();
  EXPECT_EQ(problems(all), std::vector<std::string>{"local-route-capture"});
  EXPECT_EQ(all[0].text,
            "10.0.32.32 (campus DNS server) is routed into br-3f2a1c, a local container or VM "
            "network (10.0.32.0/24), instead of the network: it cannot be reached from this "
            "host. Remove or re-address that network (for Docker, choose other ranges with "
            "\"default-address-pools\" in /etc/docker/daemon.json). It captures 2 probed "
            "addresses in all.");
  EXPECT_EQ(all[0].evidence, (std::vector<std::string>{
                                 "route to 10.0.32.32: dev br-3f2a1c (10.0.32.0/24, bridge)",
                                 "route to 10.0.32.33: dev br-3f2a1c (10.0.32.0/24, bridge)"}));
}

TEST_F(Findings, PolicyTablesLeftBehind) {
  // A core with auto-route killed: tun0 keeps table 2022's default route and
  // the rules that lead there, without a process.
  Lab stale = lab("tun", {.internet_v4 = false, .campus = false});
  stale.dns = resolvers_of(stale.facts, false);
  for (auto& r : stale.facts.routes)
    if (is_default_route(r) && r.family == kFamilyV4 &&
        r.if_index == stale.facts.egress_v4->if_index)
      r.table = "2022", r.rule_priority = 9002;
  PolicyRule to_tun{9000, kFamilyV4, "2022"}, main_less_default{9001, kFamilyV4, "main"},
      all_to_tun{9002, kFamilyV4, "2022"};
  to_tun.narrow = true;
  main_less_default.suppress_prefixlength = uint8_t{0};
  to_tun.table_routes = all_to_tun.table_routes = 1;
  main_less_default.table_routes = 5;
  stale.facts.policy_rules = {to_tun, main_less_default, all_to_tun};
  auto s = stale.run();
  EXPECT_EQ(problems(s), std::vector<std::string>{"stale-tunnel"});
  EXPECT_EQ(s[0].text,
            "tun0 holds the IPv4 default route, but no proxy core or VPN program runs: a core "
            "that stopped left its tunnel behind and DNS still points at its resolver "
            "198.18.0.2, so traffic goes nowhere. Restart the proxy core, or remove the route "
            "(ip route del default dev tun0 table 2022; ip rule del priority 9000; ip rule del "
            "priority 9002) and restore /etc/resolv.conf.");
  EXPECT_FALSE(find(s, "policy-rule-empty-table"));

  // The device went away with its routes: the rules only fall through.
  Lab empty = lab("direct");
  PolicyRule leftover{9002, kFamilyV6, "2022"};
  empty.facts.policy_rules = {main_less_default, leftover, PolicyRule{32767, kFamilyV4, "default"}};
  auto e = empty.run();
  EXPECT_TRUE(problems(e).empty()) << ::testing::PrintToString(codes(e));
  ASSERT_TRUE(find(e, "policy-rule-empty-table"));
  EXPECT_EQ(find(e, "policy-rule-empty-table")->severity, Severity::kNote);
  EXPECT_EQ(find(e, "policy-rule-empty-table")->text,
            "Policy rule 9002 names table 2022, which holds no routes: traffic falls through to "
            "the main table. A tunnel that stopped probably left it behind; remove it (ip -6 rule "
            "del priority 9002).");
  EXPECT_TRUE(find(e, "all-clear"));
}

TEST_F(Findings, ResolversBehindTheLocalStub) {
  // resolv.conf names the stub, which listens; the servers it forwards to
  // are silent.
  Lab l = lab("direct");
  for (auto& a : l.facts.adapters) a.dns_servers = {"127.0.0.53"};
  l.facts.udp_sockets.push_back({"127.0.0.53", 53, "", 0, 0, 310});
  l.facts.upstream_dns_servers = {"10.0.32.32", "10.0.32.33"};
  l.dns = {{"127.0.0.53", DnsProbeResult{}}, {"10.0.32.32", {}}, {"10.0.32.33", {}}};
  auto all = l.run();
  EXPECT_EQ(problems(all), std::vector<std::string>{"dns-silent"});
  EXPECT_FALSE(find(all, "all-clear"));
  // They answer: the all-clear counts DNS in.
  l.dns["10.0.32.32"] = l.dns["10.0.32.33"] = {"203.0.113.80", 1, true};
  auto ok = l.run();
  ASSERT_TRUE(find(ok, "all-clear"));
  EXPECT_NE(find(ok, "all-clear")->text.find("DNS"), std::string::npos);
}

TEST_F(Findings, FakeIpResolverLeftBehindWithoutTunnel) {
  Lab l = lab("direct");
  for (auto& a : l.facts.adapters) a.dns_servers.insert(a.dns_servers.begin(), "198.18.0.2");
  auto found = l.run();
  const Finding* x = find(found, "stale-fake-ip-dns");
  ASSERT_TRUE(x);
  EXPECT_EQ(x->severity, Severity::kProblem);
  l.facts.proxy_processes = {{9, "sing-box", "", ""}};
  EXPECT_FALSE(find(l.run(), "stale-fake-ip-dns"));
}

TEST_F(Findings, RouteSourceMismatch) {
  Lab l = lab("tun");
  l.facts.route_source = {true, "192.168.50.10", 4, 2, true};
  auto found = l.run();
  const Finding* x = find(found, "route-source-mismatch");
  ASSERT_TRUE(x);
  EXPECT_EQ(x->text,
            "A test connection left from 192.168.50.10 (enp3s0), but the route table sends it "
            "through tun0: a proxy core or policy routing redirects traffic.");
  l.facts.route_source.mismatch = false;
  EXPECT_FALSE(find(l.run(), "route-source-mismatch"));
}

TEST_F(Findings, InterceptionLevelsTakeTheEffectiveLevel) {
  Lab l = lab("direct");
  l.facts.interception.level = InterceptionLevel::kNone;
  l.facts.interception.score = 9;
  l.facts.interception.signals = {"running VPN/TUN/redirect/filter driver or service identity",
                                  "active TCP socket source interface disagrees with "
                                  "Find-NetRoute"};
  l.level = InterceptionLevel::kLikely;  // the effective level wins over the assessed one
  auto all = l.run();
  ASSERT_TRUE(find(all, "interception-likely"));
  EXPECT_EQ(find(all, "interception-likely")->severity, Severity::kWarning);
  EXPECT_EQ(find(all, "interception-likely")->text,
            "Traffic interception is LIKELY (score 9): running VPN/TUN/redirect/filter driver or "
            "service identity; active TCP socket source interface disagrees with Find-NetRoute.");
  EXPECT_FALSE(find(all, "all-clear"));
  l.level = InterceptionLevel::kNone;
  EXPECT_FALSE(find(l.run(), "interception-likely"));
  l.level = InterceptionLevel::kVisibleTunnel;
  auto v = l.run();
  EXPECT_FALSE(find(v, "interception-likely"));
  EXPECT_FALSE(find(v, "interception-possible"));
}

TEST_F(Findings, BrokenIpv6) {
  auto all = lab("direct", {.internet_v6 = false}).run();
  ASSERT_TRUE(find(all, "ipv6-broken"));
  EXPECT_EQ(find(all, "ipv6-broken")->severity, Severity::kWarning);
  EXPECT_EQ(find(all, "ipv6-broken")->text,
            "IPv6 has a default route via fe80::1 (enp3s0), but 2400:3200::1 does not answer over "
            "IPv6 while IPv4 works: programs that try IPv6 first may stall. Ask the network's "
            "admin to fix IPv6, or turn IPv6 off on enp3s0.");
  EXPECT_TRUE(problems(all).empty());
  // No IPv6 default route: nothing to stall on.
  Lab v4only = lab("direct", {.internet_v6 = false});
  std::erase_if(v4only.facts.routes, [](const RouteEntry& r) { return r.family == kFamilyV6; });
  EXPECT_FALSE(find(v4only.run(), "ipv6-broken"));
}

TEST_F(Findings, CampusDnsAndApiDownWhilePortalAnswers) {
  Lab l = lab("direct");
  l.facts.campus_probes.probes[3].dns = DnsProbeResult{};
  l.facts.campus_probes.probes[4].http.reset();
  l.facts.campus_probes.probes[4].tcp_fallback = TcpFallback::kFailed;
  auto all = l.run();
  ASSERT_TRUE(find(all, "campus-dns-silent"));
  EXPECT_EQ(find(all, "campus-dns-silent")->text,
            "Campus DNS 10.0.32.33 does not answer while the portal does: campus names may not "
            "resolve. Tell the campus network's help desk.");
  ASSERT_TRUE(find(all, "campus-api-silent"));
  EXPECT_FALSE(find(all, "all-clear"));
  // The API's port still takes TCP: it answers, if not HTTP.
  l.facts.campus_probes.probes[4].tcp_fallback = TcpFallback::kConnected;
  EXPECT_FALSE(find(l.run(), "campus-api-silent"));
  // Portal down too: the campus is simply not reachable from here.
  Lab away = lab("direct", {.campus = false});
  EXPECT_FALSE(find(away.run(), "campus-dns-silent"));
  EXPECT_FALSE(find(away.run(), "campus-api-silent"));
}

TEST_F(Findings, MostSevereFirstAndStable) {
  Lab l = lab("direct",
              {.gateways = false, .internet_v4 = false, .internet_v6 = false, .campus = false});
  l.facts.proxy_settings.endpoints = {{"HTTP_PROXY", "127.0.0.1", "http", 7890}};
  l.facts.route_source.mismatch = true;
  l.level = InterceptionLevel::kPossible;
  auto all = l.run();
  EXPECT_EQ(codes(all),
            (std::vector<std::string>{"gateway-silent", "proxy-setting-dead",
                                      "route-source-mismatch", "interception-possible"}));
  for (size_t i = 1; i < all.size(); ++i) EXPECT_LE(all[i - 1].severity, all[i].severity);
  auto again = l.run();
  ASSERT_EQ(again.size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(again[i].text, all[i].text);
    EXPECT_EQ(again[i].evidence, all[i].evidence);
  }
}

// Host texts reach the sentences in the console's safe rendering: a name
// with an escape sequence or a right-to-left override is shown, not obeyed,
// wherever a finding is read (console, --json, report).
TEST_F(Findings, HostTextsAreShownInTheirSafeRendering) {
  const std::string hostile = "x\x1b]0;owned\x07\u202eexe.sh";
  const std::string shown = "x\\x1b]0;owned\\x07\\u202eexe.sh";
  struct Row {
    const char* what;
    Lab lab;
    const char* code;
  } rows[] = {
      {"portal's error word",
       lab("direct", {.internet_v4 = false,
                      .internet_v6 = false,
                      .login_error = "not_online_error" + hostile}),
       "campus-logged-out"},
      {"process name", lab("tun", {.internet_v4 = false, .campus = false}), "tunnel-default-route"},
      {"adapter name", lab("direct", {.gateways = false}), "gateway-ignores-ping"},
  };
  rows[1].lab.level = InterceptionLevel::kVisibleTunnel;
  rows[1].lab.facts.proxy_processes = {{21, "openvpn" + hostile, "", ""}};
  for (auto& a : rows[2].lab.facts.adapters)
    if (a.name == "enp3s0") a.name += hostile;
  for (const auto& r : rows) {
    auto all = r.lab.run();
    const Finding* x = find(all, r.code);
    ASSERT_TRUE(x) << r.what << ": " << ::testing::PrintToString(codes(all));
    EXPECT_NE(x->text.find(shown), std::string::npos) << r.what << ": " << x->text;
    for (const auto& f : all) {
      EXPECT_EQ(terminal_safe(f.text), f.text) << r.what;
      for (const auto& e : f.evidence) EXPECT_EQ(terminal_safe(e), e) << r.what;
    }
  }
}

TEST(FindingsEdge, EmptyFactsClaimNothingWithoutEvidence) {
  auto all = diagnose(Facts{}, {});
  ASSERT_EQ(codes(all), std::vector<std::string>{"all-clear"});
  EXPECT_EQ(all[0].text, "No problem found; no interception.");
  EXPECT_EQ(severity_text(Severity::kProblem), "PROBLEM");
  EXPECT_EQ(severity_text(Severity::kNote), "NOTE");
}

}  // namespace
}  // namespace corvale
