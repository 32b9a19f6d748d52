// The parsers against real command output taken inside the lab scenarios
// (tests/data/captures/SCENARIO): a plain wired host, one behind a mihomo TUN,
// one with local HTTP/SOCKS proxies, one without upstream, one with only lo.
#include <gtest/gtest.h>

#include <map>

#include "linux/adapters.h"
#include "linux/dns_config.h"
#include "linux/routes.h"
#include "linux/sockets.h"
#include "test_support.h"

namespace corvale {
namespace {

using testing::read_data;

// What the runner hands over: standard output, or the error text when that is blank.
std::string command_text_of(const std::string& scenario, const std::string& file) {
  std::string out = read_data("captures/" + scenario + "/" + file);
  if (out.find_first_not_of(" \t\r\n") != std::string::npos) return out;
  return read_data("captures/" + scenario + "/" + file + ".stderr");
}

struct Host {
  std::vector<Adapter> adapters;
  NameToIndex names;
  std::vector<RouteEntry> routes;
};

Host load(const std::string& scenario) {
  Host h;
  auto dns = parse_resolv_conf(read_data("captures/" + scenario + "/resolv.conf"));
  h.adapters = parse_ip_addr_json(read_data("captures/" + scenario + "/ip_addr.json"), dns);
  h.names = name_to_index(h.adapters);
  h.routes =
      parse_routes_json(read_data("captures/" + scenario + "/ip_route.json"), h.names, kFamilyV4);
  auto v6 =
      parse_routes_json(read_data("captures/" + scenario + "/ip6_route.json"), h.names, kFamilyV6);
  h.routes.insert(h.routes.end(), v6.begin(), v6.end());
  return h;
}

std::optional<RouteLookup> lookup(const Host& h, const std::string& scenario,
                                  const std::string& file, bool v6) {
  return parse_route_get(command_text_of(scenario, file), h.names, v6);
}

class LabCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    // The captures are committed: without them every case here would pass
    // on nothing.
    ASSERT_FALSE(read_data("captures/direct/ip_addr.json").empty())
        << "committed lab captures are missing (tests/data/captures)";
  }
};

TEST_F(LabCapture, DirectWiredHost) {
  Host h = load("direct");
  ASSERT_EQ(h.adapters.size(), 3u);
  const Adapter& wired = h.adapters[1];
  EXPECT_EQ(wired.name, "enp3s0");
  EXPECT_EQ(wired.if_type, kIfTypeEthernet);
  EXPECT_TRUE(wired.is_up);
  EXPECT_EQ(wired.mac_address, "54:E1:AD:50:00:10");
  EXPECT_EQ(wired.dns_servers, (std::vector<std::string>{"10.0.32.32", "10.0.32.33"}));
  const Adapter& wifi = h.adapters[2];
  EXPECT_EQ(wifi.if_type, kIfTypeWireless);
  EXPECT_FALSE(wifi.is_up);
  EXPECT_TRUE(wifi.ipv4_addresses.empty());
  EXPECT_EQ(wifi.dns_servers, wired.dns_servers);  // an adapter without addresses keeps DNS

  EXPECT_EQ(h.routes.front(), (RouteEntry{"0.0.0.0", "192.168.50.1", 2, 100, kFamilyV4, 0}));
  EXPECT_EQ(h.routes.back(), (RouteEntry{"::", "fe80::1", 2, 100, kFamilyV6, 0}));

  EXPECT_EQ(lookup(h, "direct", "route_get_v4.txt", false),
            (RouteLookup{2, "192.168.50.1", "192.168.50.10", kFamilyV4}));
  EXPECT_EQ(lookup(h, "direct", "route_get_v6.txt", true),
            (RouteLookup{2, "fe80::1", "2001:db8:50::10", kFamilyV6}));

  auto devices = device_records_for(h.adapters);
  EXPECT_EQ(devices.at("54:E1:AD:50:00:10").status, 4);
  EXPECT_EQ(devices.at("00:00:00:00:00:00").status, 1);

  EXPECT_TRUE(parse_ss_output(read_data("captures/direct/ss_tcp.txt"), true).empty());
}

TEST_F(LabCapture, MihomoTunHost) {
  Host h = load("tun");
  ASSERT_EQ(h.adapters.size(), 4u);
  const Adapter& tun = h.adapters[3];
  EXPECT_EQ(tun.name, "tun0");
  EXPECT_EQ(tun.if_type, kIfTypeTunnel);
  EXPECT_EQ(tun.mac_address, "");
  EXPECT_EQ(tun.ipv4_addresses, (std::vector<InterfaceAddress>{{"198.18.0.1", 30}}));
  EXPECT_EQ(tun.dns_servers.front(), "198.18.0.2");

  EXPECT_EQ(h.routes[0], (RouteEntry{"0.0.0.0", "", 4, 10, kFamilyV4, 0}));
  EXPECT_EQ(h.routes[1], (RouteEntry{"0.0.0.0", "192.168.50.1", 2, 100, kFamilyV4, 0}));

  EXPECT_EQ(lookup(h, "tun", "route_get_v4.txt", false),
            (RouteLookup{4, std::nullopt, "198.18.0.1", kFamilyV4}));
  EXPECT_EQ(lookup(h, "tun", "route_get_1111.txt", false),
            (RouteLookup{4, std::nullopt, "198.18.0.1", kFamilyV4}));
  EXPECT_EQ(lookup(h, "tun", "route_get_v6.txt", true)->if_index, 2u);  // IPv6 bypasses the TUN

  auto tcp = merge_socket_samples({parse_ss_output(read_data("captures/tun/ss_tcp.txt"), true)});
  std::map<uint16_t, uint32_t> owner_by_port;
  for (const auto& e : listening_entries(tcp)) {
    EXPECT_EQ(e.local_address, "127.0.0.1");
    owner_by_port[e.local_port] = e.pid;
  }
  ASSERT_EQ(owner_by_port.size(), 2u);
  EXPECT_NE(owner_by_port[7890], 0u);
  EXPECT_EQ(owner_by_port[7890], owner_by_port[9090]);  // both mihomo's
  int clients = 0;
  for (const auto& e : tcp) {
    if (e.state != kTcpEstablished || e.remote_port != 7890) continue;
    ++clients;
    EXPECT_NE(e.pid, owner_by_port[7890]);  // the client is firefox
  }
  EXPECT_EQ(clients, 1);
}

TEST_F(LabCapture, ExplicitProxiesHost) {
  auto tcp = parse_ss_output(read_data("captures/explicit/ss_tcp.txt"), true);
  std::map<uint16_t, uint32_t> owner_by_port;  // the order of ss lines varies between runs
  for (const auto& e : listening_entries(tcp)) {
    owner_by_port[e.local_port] = e.pid;
    EXPECT_EQ(e.local_address, "127.0.0.1");
    EXPECT_NE(e.pid, 0u);
  }
  std::vector<uint16_t> ports;
  for (const auto& [port, pid] : owner_by_port) ports.push_back(port);
  EXPECT_EQ(ports, (std::vector<uint16_t>{1080, 8080, 8888, 10808, 10809}));
  EXPECT_EQ(owner_by_port[10808], owner_by_port[10809]);  // both v2ray's
  auto udp = parse_ss_output(read_data("captures/explicit/ss_udp.txt"), false);
  ASSERT_EQ(udp.size(), 1u);
  EXPECT_EQ(udp[0].local_port, 10808);
  EXPECT_EQ(udp[0].pid, owner_by_port[10808]);  // v2ray serves both
}

TEST_F(LabCapture, LoopbackOnlyHost) {
  Host h = load("bare");
  ASSERT_EQ(h.adapters.size(), 1u);
  EXPECT_TRUE(h.routes.empty());
  EXPECT_EQ(h.adapters[0].dns_servers, std::vector<std::string>{"127.0.0.53"});
  // "RTNETLINK answers: Network is unreachable" names no device.
  EXPECT_FALSE(lookup(h, "bare", "route_get_v4.txt", false));
  EXPECT_FALSE(lookup(h, "bare", "route_get_v6.txt", true));
  EXPECT_FALSE(lookup(h, "bare", "route_get_1111.txt", false));
}

TEST_F(LabCapture, EveryScenarioParses) {
  for (const char* s : {"bare", "direct", "explicit", "offline", "tun"}) {
    Host h = load(s);
    ASSERT_FALSE(h.adapters.empty()) << s;
    EXPECT_EQ(h.adapters[0].name, "lo") << s;
    for (const auto& a : h.adapters) EXPECT_NE(a.if_index, 0u) << s << " " << a.name;
    for (const auto& r : h.routes) EXPECT_NE(r.if_index, 0u) << s << " " << r.destination;
    for (const auto& e :
         parse_ss_output(read_data(std::string("captures/") + s + "/ss_tcp.txt"), true))
      EXPECT_NE(e.state, 0) << s;
  }
}

}  // namespace
}  // namespace corvale
