#include "linux/adapters.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace corvale {
namespace {

using testing::read_data;

const Adapter* find(const std::vector<Adapter>& list, const std::string& name) {
  for (const auto& a : list)
    if (a.name == name) return &a;
  return nullptr;
}

TEST(IfType, FromNamePrefix) {
  struct Row {
    const char* name;
    uint32_t type;
  } rows[] = {
      {"lo", 24},    {"LO0", 24},   {"wlp2s0", 71}, {"wlan0", 71},  {"tun0", 131}, {"Mihomo", 6},
      {"tap1", 131}, {"wg0", 131},  {"utun3", 131}, {"ppp0", 131},  {"sit0", 131}, {"ip6tnl0", 131},
      {"eth0", 6},   {"enp3s0", 6}, {"veth-a", 6},  {"docker0", 6}, {"", 6},
  };
  for (const auto& r : rows) EXPECT_EQ(if_type_for_name(r.name), r.type) << r.name;
}

// The link type, where ip gives it, outweighs the name: a TUN device may be
// called anything.
TEST(IfType, FromLinkTypeBeforeName) {
  struct Row {
    const char* json;
    uint32_t type;
  } rows[] = {
      {R"({"ifname":"Mihomo","link_type":"none","linkinfo":{"info_kind":"tun"}})", 131},
      {R"({"ifname":"Meta","link_type":"none"})", 131},
      {R"({"ifname":"ppp-uni","link_type":"ppp"})", 131},
      {R"({"ifname":"eth0","link_type":"ether"})", 6},
      {R"({"ifname":"wlp2s0","link_type":"ether"})", 71},
      {R"({"ifname":"tap1","link_type":"ether","linkinfo":{"info_kind":"tun","info_data":{"type":"tap"}}})",
       131},
      {R"({"ifname":"xyz","link_type":"loopback"})", 24},
      {R"({"ifname":"tun9","link_type":7})", 131},
  };
  for (const auto& r : rows) {
    auto list = parse_ip_addr_json(std::string("[") + r.json + "]", {});
    ASSERT_EQ(list.size(), 1u) << r.json;
    EXPECT_EQ(list[0].if_type, r.type) << r.json;
  }
}

TEST(ParseIpAddr, CapturedListing) {
  auto list = parse_ip_addr_json(read_data("linux/ip_addr.json"), {"127.0.0.53", "10.0.32.32"});
  ASSERT_EQ(list.size(), 8u);
  std::vector<std::string> names;
  for (const auto& a : list) names.push_back(a.name);
  EXPECT_EQ(names, (std::vector<std::string>{"lo", "gw-eth", "eth0", "gw-wl", "wlp2s0", "veth-b",
                                             "veth-a", "tun0"}));

  const Adapter& lo = list[0];
  EXPECT_EQ(lo.if_index, 1u);
  EXPECT_EQ(lo.if_type, 24u);
  EXPECT_FALSE(lo.is_up);  // operstate UNKNOWN
  EXPECT_EQ(lo.mac_address, "00:00:00:00:00:00");
  EXPECT_EQ(lo.mtu, 65536u);
  EXPECT_EQ(lo.ipv4_addresses, (std::vector<InterfaceAddress>{{"127.0.0.1", 8}}));
  EXPECT_EQ(lo.ipv6_addresses, (std::vector<InterfaceAddress>{{"::1", 128}}));

  const Adapter* eth = find(list, "eth0");
  ASSERT_NE(eth, nullptr);
  EXPECT_EQ(eth->description, "eth0");
  EXPECT_EQ(eth->if_index, 3u);
  EXPECT_TRUE(eth->is_up);
  EXPECT_EQ(eth->mac_address, "52:54:00:12:34:56");
  EXPECT_EQ(eth->mtu, 1500u);
  EXPECT_EQ(eth->link_speed_bps, 0u);
  EXPECT_EQ(eth->ipv4_addresses, (std::vector<InterfaceAddress>{{"10.20.30.40", 24}}));
  EXPECT_EQ(eth->ipv6_addresses,
            (std::vector<InterfaceAddress>{
                {"2001:db8:1::40", 64}, {"fe80::1", 64}, {"fe80::5054:ff:fe12:3456", 64}}));

  const Adapter* wl = find(list, "wlp2s0");
  ASSERT_NE(wl, nullptr);
  EXPECT_EQ(wl->if_type, 71u);
  EXPECT_EQ(wl->mac_address, "9C:B6:D0:AA:BB:CC");

  const Adapter* tun = find(list, "tun0");
  ASSERT_NE(tun, nullptr);
  EXPECT_EQ(tun->if_index, 8u);
  EXPECT_EQ(tun->if_type, 131u);
  EXPECT_TRUE(tun->is_up);
  EXPECT_EQ(tun->mac_address, "");  // link/none has no "address"
  EXPECT_EQ(tun->ipv4_addresses, (std::vector<InterfaceAddress>{{"198.18.0.1", 30}}));
  ASSERT_EQ(tun->ipv6_addresses.size(), 2u);
  EXPECT_EQ(tun->ipv6_addresses[0], (InterfaceAddress{"fdfe:dcba:9876::1", 126}));

  for (const auto& a : list)
    EXPECT_EQ(a.dns_servers, (std::vector<std::string>{"127.0.0.53", "10.0.32.32"})) << a.name;
}

TEST(ParseIpAddr, NotAnArrayGivesNothing) {
  std::string capture = read_data("linux/ip_addr.json");
  const std::string inputs[] = {
      "",
      "{",
      "{}",
      "null",
      "\"lo\"",
      "Device \"eth9\" does not exist.",
      capture.substr(0, capture.size() / 2),  // truncated
      capture.substr(0, capture.size() - 3),
      std::string(200000, '['),  // nesting deep enough to break a recursive parser
      "[{\"ifname\":\"lo\"}] trailing",
  };
  for (const auto& in : inputs)
    EXPECT_TRUE(parse_ip_addr_json(in, {"1.1.1.1"}).empty()) << in.substr(0, 60);
}

TEST(ParseIpAddr, WrongTypesReadAsAbsent) {
  auto list = parse_ip_addr_json(R"([
    1, "x", null, [], {"ifindex": 9},
    {"ifname": 5, "ifindex": 10},
    {"ifname": "", "ifindex": 11},
    {"ifname": "a", "ifindex": "3", "mtu": -1, "operstate": "up", "address": 7},
    {"ifname": "b", "ifindex": -1, "mtu": 4294967296, "operstate": "UP", "address": "aa:bb:cc:dd:ee:ff"},
    {"ifname": "c", "ifindex": 4294967296, "mtu": 1500.5, "addr_info": {"family": "inet", "local": "1.2.3.4"}},
    {"ifname": "d", "ifindex": 4294967295, "mtu": 1e3, "addr_info": [
        1, null, "inet", {"family": "inet"}, {"family": "inet", "local": ""},
        {"family": "inet", "local": 12}, {"family": "link", "local": "aa:bb"},
        {"family": "inet", "local": "10.0.0.1", "prefixlen": 300},
        {"family": "inet", "local": "10.0.0.2", "prefixlen": "24"},
        {"family": "inet", "local": "10.0.0.3", "prefixlen": 24},
        {"family": "inet6", "local": "fe80::1%eth0", "prefixlen": 64},
        {"family": "inet6", "local": "fe80::2%", "prefixlen": -64},
        {"family": 6, "local": "::5"}]}
  ])",
                                 {"9.9.9.9"});
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].name, "a");
  EXPECT_EQ(list[0].if_index, 0u);
  EXPECT_EQ(list[0].mtu, 0u);
  EXPECT_FALSE(list[0].is_up);  // only the exact text "UP"
  EXPECT_EQ(list[0].mac_address, "");
  EXPECT_EQ(list[1].if_index, 0u);
  EXPECT_EQ(list[1].mtu, 0u);
  EXPECT_TRUE(list[1].is_up);
  EXPECT_EQ(list[1].mac_address, "AA:BB:CC:DD:EE:FF");
  EXPECT_EQ(list[2].if_index, 0u);
  EXPECT_EQ(list[2].mtu, 0u);
  EXPECT_TRUE(list[2].ipv4_addresses.empty());
  EXPECT_EQ(list[2].dns_servers, std::vector<std::string>{"9.9.9.9"});
  const Adapter& d = list[3];
  EXPECT_EQ(d.if_index, 4294967295u);
  EXPECT_EQ(d.mtu, 0u);
  EXPECT_EQ(d.ipv4_addresses,
            (std::vector<InterfaceAddress>{{"10.0.0.1", 0}, {"10.0.0.2", 0}, {"10.0.0.3", 24}}));
  EXPECT_EQ(d.ipv6_addresses, (std::vector<InterfaceAddress>{{"fe80::1", 64}, {"fe80::2", 0}}));
}

TEST(ParseIpAddr, InvalidUtf8KeepsTheListing) {
  std::string json =
      "[{\"ifname\":\"wl\xff\xfe\",\"ifindex\":4},{\"ifname\":\"eth0\",\"ifindex\":5}]";
  auto list = parse_ip_addr_json(json, {});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "wl\uFFFD\uFFFD");
  EXPECT_EQ(list[0].if_type, 71u);
  EXPECT_EQ(list[1].if_index, 5u);
}

TEST(ParseIpAddr, LargeListing) {
  std::string json = "[";
  for (int i = 1; i <= 5000; ++i) {
    if (i > 1) json += ",";
    json += "{\"ifindex\":" + std::to_string(i) + ",\"ifname\":\"veth" + std::to_string(i) +
            "\",\"addr_info\":[{\"family\":\"inet\",\"local\":\"10.1.2.3\",\"prefixlen\":8}]}";
  }
  json += "]";
  auto list = parse_ip_addr_json(json, {});
  ASSERT_EQ(list.size(), 5000u);
  EXPECT_EQ(list.back().name, "veth5000");
  EXPECT_EQ(list.back().if_index, 5000u);
}

TEST(LinkSpeed, MbitPerSecondToBits) {
  struct Row {
    const char* text;
    uint64_t bps;
  } rows[] = {
      {"1000\n", 1'000'000'000},
      {"10", 10'000'000},
      {"  2500 \n", 2'500'000'000},
      {"0", 0},
      {"-1\n", 0},  // link down
      {"", 0},
      {"\n", 0},
      {"abc", 0},
      {"100Mb", 0},
      {"+100", 0},
      {"1.5", 0},
      {"99999999999999999999999", 0},
      {"18446744073709", 18'446'744'073'709'000'000u},
      {"18446744073710", 0},  // would overflow 64 bits
      {"9223372036854775807", 0},
  };
  for (const auto& r : rows) EXPECT_EQ(parse_link_speed(r.text), r.bps) << r.text;
}

TEST(LinkSpeed, InterfaceNameMustStayInOneDirectory) {
  EXPECT_TRUE(is_safe_interface_name("eth0"));
  EXPECT_TRUE(is_safe_interface_name("..x"));
  EXPECT_TRUE(is_safe_interface_name("veth-a@if3"));
  EXPECT_FALSE(is_safe_interface_name(""));
  EXPECT_FALSE(is_safe_interface_name("."));
  EXPECT_FALSE(is_safe_interface_name(".."));
  EXPECT_FALSE(is_safe_interface_name("../../etc"));
  EXPECT_FALSE(is_safe_interface_name("a/b"));
  EXPECT_FALSE(is_safe_interface_name(std::string_view("a\0b", 3)));
}

TEST(DeviceRecords, HardwareOrVirtualByName) {
  auto list = parse_ip_addr_json(read_data("linux/ip_addr.json"), {});
  auto records = device_records_for(list);
  // tun0 has no MAC; the seven others each have their own.
  ASSERT_EQ(records.size(), 7u);
  struct Row {
    const char* mac;
    const char* name;
    bool hardware;
  } rows[] = {
      {"00:00:00:00:00:00", "lo", false},     {"52:54:00:12:34:56", "eth0", true},
      {"9C:B6:D0:AA:BB:CC", "wlp2s0", true},  {"52:54:00:00:00:0A", "veth-a", false},
      {"52:54:00:00:00:0B", "veth-b", false}, {"52:54:00:00:00:01", "gw-eth", true},
  };
  for (const auto& r : rows) {
    auto it = records.find(r.mac);
    ASSERT_NE(it, records.end()) << r.mac;
    EXPECT_EQ(it->second.name, r.name);
    EXPECT_EQ(it->second.mac_address, r.mac);
    EXPECT_EQ(it->second.service, "corvale-linux");
    EXPECT_EQ(it->second.instance_id, r.hardware ? "PCI\\CORVALE" : "ROOT\\CORVALE") << r.name;
    EXPECT_EQ(it->second.status, r.hardware ? 4 : 1) << r.name;
  }
}

TEST(DeviceRecords, VirtualPrefixesAndSharedMacs) {
  const char* virtual_names[] = {"lo",       "tun0",    "TAP1",    "wg0",    "utun2",
                                 "veth9",    "Docker0", "br-1a2b", "virbr0", "vmnet8",
                                 "vboxnet0", "ppp0",    "sit1",    "ip6tnl0"};
  for (const char* n : virtual_names) {
    Adapter a;
    a.name = n;
    a.mac_address = "02:00:00:00:00:01";
    auto r = device_records_for({a});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r.begin()->second.status, 1) << n;
  }
  Adapter first, second, lower, bare;
  first.name = "enp3s0";
  first.mac_address = "AA:AA:AA:AA:AA:AA";
  second.name = "br0";  // not a virtual prefix: "br-" is
  second.mac_address = "AA:AA:AA:AA:AA:AA";
  lower.name = "wlan0";
  lower.mac_address = "bb:bb:bb:bb:bb:bb";
  bare.name = "tun0";
  auto r = device_records_for({first, second, lower, bare});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r.at("AA:AA:AA:AA:AA:AA").name, "br0");  // the later adapter wins
  EXPECT_EQ(r.at("AA:AA:AA:AA:AA:AA").status, 4);
  EXPECT_EQ(r.at("BB:BB:BB:BB:BB:BB").name, "wlan0");
}

}  // namespace
}  // namespace corvale

#include "facts/adapter_assessment.h"

namespace corvale {
namespace {

// Captured `ip -d -j addr show` (tun device wg0 holding the default route, a
// tap, a bridge and a veth pair): the kernel's link kind of each.
TEST(ParseIpAddr, LinkKindFromDetails) {
  auto list = parse_ip_addr_json(read_data("linux/ip_d_addr_tunnels.json"), {});
  std::vector<std::pair<std::string, std::string>> kinds;
  for (const auto& a : list) kinds.emplace_back(a.name, a.link_kind);
  EXPECT_EQ(kinds, (std::vector<std::pair<std::string, std::string>>{{"lo", ""},
                                                                     {"wg0", "tun"},
                                                                     {"tap3", "tap"},
                                                                     {"br0", "bridge"},
                                                                     {"v1", "veth"},
                                                                     {"enp3s0", "veth"}}));
  // Without -d there are no details and no kind.
  for (const auto& a : parse_ip_addr_json(read_data("linux/ip_addr.json"), {}))
    EXPECT_EQ(a.link_kind, "") << a.name;
  // Hostile details read as no kind.
  auto odd = parse_ip_addr_json(
      R"([{"ifname":"a","linkinfo":"tun"},{"ifname":"b","linkinfo":{"info_kind":7}},)"
      R"({"ifname":"c","linkinfo":{"info_kind":"tun","info_data":[1]}},)"
      R"({"ifname":"d","linkinfo":{"info_kind":"WireGuard"}},)"
      R"({"ifname":"e","linkinfo":{"info_kind":"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"}}])",
      {});
  ASSERT_EQ(odd.size(), 5u);
  EXPECT_EQ(odd[0].link_kind, "");
  EXPECT_EQ(odd[1].link_kind, "");
  EXPECT_EQ(odd[2].link_kind, "tun");
  EXPECT_EQ(odd[3].link_kind, "wireguard");
  EXPECT_EQ(odd[4].link_kind, "");
}

// A WireGuard VPN holding the default route: recognised by its link kind
// alone. The listing is the tun capture above with wg0's details as iproute2
// prints a wireguard link (this kernel has no wireguard module to capture).
TEST(AdapterKind, WireGuardHoldingTheDefaultRouteIsATunnel) {
  auto list = parse_ip_addr_json(read_data("linux/ip_d_addr_wireguard.json"), {});
  const Adapter* wg = find(list, "wg0");
  ASSERT_NE(wg, nullptr);
  EXPECT_EQ(wg->link_kind, "wireguard");
  EXPECT_EQ(wg->description, "wg0");  // the displayed text stays the name
  std::vector<RouteEntry> routes = {{"0.0.0.0", "", wg->if_index, 0, kFamilyV4, 0}};
  Adapter plain = *wg;
  plain.link_kind.clear();
  // Without its kind, wg0's name alone matches no tunnel identity; having
  // no MAC address, it has no device record to count as virtual.
  struct Row {
    const Adapter* adapter;
    double tunnel_score;
    const char* verdict;
    double confidence;
  } rows[] = {
      {&plain, 6, "SuspectedTunnel", 0.71},
      {wg, 6 + 8, "Tunnel", 0.98},
  };
  auto devices = device_records_for(list);
  for (const auto& r : rows) {
    AdapterAssessment a = assess_adapter(*r.adapter, devices, routes);
    EXPECT_EQ(a.tunnel_score, r.tunnel_score) << r.adapter->link_kind;
    EXPECT_EQ(verdict_text(a.verdict), r.verdict) << r.adapter->link_kind;
    EXPECT_EQ(a.confidence, r.confidence) << r.adapter->link_kind;
  }
  // The kind matches nothing for a bridge or veth: their scores are unchanged.
  for (const char* kind : {"bridge", "veth", "gre", "vti"}) {
    Adapter eth = plain;
    eth.name = eth.description = "enp3s0";
    eth.if_type = kIfTypeEthernet;
    Adapter with_kind = eth;
    with_kind.link_kind = kind;
    auto before = assess_adapter(eth, {}, routes);
    auto after = assess_adapter(with_kind, {}, routes);
    EXPECT_EQ(after.tunnel_score, before.tunnel_score) << kind;
    EXPECT_EQ(after.carrier_score, before.carrier_score) << kind;
    EXPECT_EQ(after.verdict, before.verdict) << kind;
  }
}

}  // namespace
}  // namespace corvale
