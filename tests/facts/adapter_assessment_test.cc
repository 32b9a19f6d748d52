#include "facts/adapter_assessment.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

Adapter make_adapter(std::string name, uint32_t index, uint32_t if_type, std::string mac = "") {
  Adapter a;
  a.name = name;
  a.description = name;
  a.if_index = index;
  a.if_type = if_type;
  a.is_up = true;
  a.mac_address = std::move(mac);
  return a;
}

DeviceRecord device(const std::string& name, bool hardware, const std::string& mac) {
  return {hardware ? "PCI\\CORVALE" : "ROOT\\CORVALE", "corvale-linux",
          static_cast<uint8_t>(hardware ? 4 : 1), name, mac};
}

RouteEntry default_v4(uint32_t index, std::string gateway) {
  return {"0.0.0.0", std::move(gateway), index, 0, kFamilyV4, 0};
}

TEST(MediaType, Table) {
  EXPECT_EQ(media_type_text(6), "802.3");
  EXPECT_EQ(media_type_text(24), "Loopback");
  EXPECT_EQ(media_type_text(71), "Native 802.11");
  EXPECT_EQ(media_type_text(131), "IP");
  EXPECT_EQ(media_type_text(53), "IfType 53");
  EXPECT_EQ(media_type_text(0), "IfType 0");
}

TEST(FakeIpStyle, Table) {
  struct Row {
    const char* text;
    bool fake;
  } rows[] = {
      {"198.18.0.1", true},
      {"198.19.255.254", true},
      {"198.17.0.1", false},
      {"198.20.0.1", false},
      {"18.198.0.1", false},
      {"fdfe:dcba:9876::1", true},
      {"FDFE::2", true},
      {"fdfd::1", false},
      {"fdfe", false},
      {"fdfe:zz::1", false},
      {"", false},
      {"not an address", false},
      // A resolv.conf entry keeps its trailing comment and then is no address.
      {"198.18.0.2 # tun", false},
  };
  for (const auto& r : rows) EXPECT_EQ(is_fake_ip_style(r.text), r.fake) << r.text;
}

TEST(LoopbackDns, Table) {
  EXPECT_TRUE(is_loopback_dns("127.0.0.53"));
  EXPECT_TRUE(is_loopback_dns("127.1.2.3"));
  EXPECT_TRUE(is_loopback_dns("::1"));
  EXPECT_FALSE(is_loopback_dns("1.1.1.1"));
  EXPECT_FALSE(is_loopback_dns("0:0::1"));
  EXPECT_FALSE(is_loopback_dns("128.0.0.1"));
}

TEST(DefaultRoute, RecognisesBothFamiliesAndConventionalGateways) {
  EXPECT_TRUE(is_default_route(default_v4(1, "")));
  EXPECT_FALSE(is_default_route({"0.0.0.0", "", 1, 0, kFamilyV4, 8}));
  EXPECT_FALSE(is_default_route({"10.0.0.0", "", 1, 0, kFamilyV4, 0}));
  EXPECT_TRUE(is_default_route({"::", "", 1, 0, kFamilyV6, 0}));
  EXPECT_FALSE(is_default_route({"::", "", 1, 0, kFamilyV4, 0}));

  EXPECT_TRUE(has_conventional_gateway(default_v4(1, "192.168.1.1")));
  EXPECT_FALSE(has_conventional_gateway(default_v4(1, "")));
  EXPECT_FALSE(has_conventional_gateway(default_v4(1, "0.0.0.0")));
  EXPECT_FALSE(has_conventional_gateway({"::", "::", 1, 0, kFamilyV6, 0}));
  EXPECT_TRUE(has_conventional_gateway({"::", "fe80::1", 1, 0, kFamilyV6, 0}));
}

TEST(AssessAdapter, FakeIpTunnelWithGatewaylessDefaultRouteIsTunnel) {
  Adapter tun = make_adapter("tun0", 7, kIfTypeTunnel, "aa:bb:cc:00:00:01");
  tun.ipv4_addresses = {{"198.18.0.1", 30}};
  std::map<std::string, DeviceRecord> devices = {
      {"AA:BB:CC:00:00:01", device("tun0", false, "AA:BB:CC:00:00:01")}};
  auto a = assess_adapter(tun, devices, {default_v4(7, "")});
  EXPECT_DOUBLE_EQ(a.tunnel_score, 17.5);
  EXPECT_DOUBLE_EQ(a.carrier_score, 1);
  EXPECT_EQ(a.verdict, AdapterVerdict::kTunnel);
  EXPECT_DOUBLE_EQ(a.confidence, 0.98);
  EXPECT_TRUE(a.is_virtual);
  EXPECT_EQ(a.physical, 0);
  EXPECT_TRUE(a.has_default_route);
  EXPECT_FALSE(a.has_conventional_gateway);
  EXPECT_EQ(a.fake_ip_addresses_text, "198.18.0.1");
  std::vector<std::string> reasons = {"MediaType=IP", "198.18/15 or fdfe:: style interface address",
                                      "virtual/non-physical adapter owns default route",
                                      "default route without conventional gateway"};
  EXPECT_EQ(a.reasons, reasons);
}

TEST(AssessAdapter, PhysicalEthernetWithGatewayIsCarrier) {
  Adapter eth = make_adapter("enp3s0", 2, kIfTypeEthernet, "00:11:22:33:44:55");
  eth.ipv4_addresses = {{"10.1.2.3", 24}};
  std::map<std::string, DeviceRecord> devices = {
      {"00:11:22:33:44:55", device("enp3s0", true, "00:11:22:33:44:55")}};
  auto a = assess_adapter(eth, devices, {default_v4(2, "10.1.2.1"), default_v4(9, "")});
  EXPECT_DOUBLE_EQ(a.carrier_score, 12.5);
  EXPECT_DOUBLE_EQ(a.tunnel_score, 0);
  EXPECT_EQ(a.verdict, AdapterVerdict::kCarrier);
  EXPECT_DOUBLE_EQ(a.confidence, 0.98);
  EXPECT_EQ(a.physical, 1);
  EXPECT_FALSE(a.is_virtual);
  EXPECT_TRUE(a.has_conventional_gateway);
  std::vector<std::string> reasons = {"Win32_NetworkAdapter.PhysicalAdapter=true",
                                      "hardware-enumerated PCI/USB network device"};
  EXPECT_EQ(a.reasons, reasons);
}

TEST(AssessAdapter, LowerCaseMacStillFindsItsDevice) {
  Adapter eth = make_adapter("eth0", 2, kIfTypeEthernet, "de:ad:be:ef:00:01");
  std::map<std::string, DeviceRecord> devices = {
      {"DE:AD:BE:EF:00:01", device("eth0", true, "DE:AD:BE:EF:00:01")}};
  EXPECT_EQ(assess_adapter(eth, devices, {}).physical, 1);
}

TEST(AssessAdapter, PhysicalAdapterWithoutDefaultRouteIsOther) {
  Adapter eth = make_adapter("eth1", 3, kIfTypeEthernet, "00:11:22:33:44:66");
  std::map<std::string, DeviceRecord> devices = {
      {"00:11:22:33:44:66", device("eth1", true, "00:11:22:33:44:66")}};
  auto a = assess_adapter(eth, devices, {default_v4(2, "10.0.0.1")});
  EXPECT_FALSE(a.has_default_route);
  EXPECT_DOUBLE_EQ(a.carrier_score, 11.5);
  // Without a default route a physical adapter is not the carrier.
  EXPECT_EQ(a.verdict, AdapterVerdict::kOther);
  EXPECT_DOUBLE_EQ(a.confidence, 0.35);

  Adapter bare = make_adapter("eth2", 4, kIfTypeEthernet);
  auto b = assess_adapter(bare, {}, {});
  EXPECT_EQ(b.physical, 2);
  EXPECT_DOUBLE_EQ(b.carrier_score, 2);
  EXPECT_EQ(b.verdict, AdapterVerdict::kOther);
  EXPECT_DOUBLE_EQ(b.confidence, 0.35);
}

TEST(AssessAdapter, DnsEvidence) {
  Adapter eth = make_adapter("eth0", 2, kIfTypeEthernet);
  eth.dns_servers = {"198.18.0.2", "198.18.0.2", "127.0.0.53", "1.1.1.1"};
  auto a = assess_adapter(eth, {}, {});
  EXPECT_DOUBLE_EQ(a.tunnel_score, 5.75);
  EXPECT_EQ(a.fake_ip_dns, std::vector<std::string>{"198.18.0.2"});
  EXPECT_EQ(a.loopback_dns, std::vector<std::string>{"127.0.0.53"});
  std::vector<std::string> reasons = {"198.18/15 or fdfe:: style DNS",
                                      "loopback DNS (weak signal)"};
  EXPECT_EQ(a.reasons, reasons);

  eth.dns_servers = {"127.0.0.53"};
  auto b = assess_adapter(eth, {}, {});
  EXPECT_DOUBLE_EQ(b.tunnel_score, 0.75);
  EXPECT_EQ(b.loopback_dns_text, "127.0.0.53");
}

TEST(AssessAdapter, TunnelMediaStartsAtSix) {
  auto a = assess_adapter(make_adapter("wg0", 5, kIfTypeTunnel), {}, {});
  EXPECT_DOUBLE_EQ(a.tunnel_score, 6);
  EXPECT_EQ(a.reasons, std::vector<std::string>{"MediaType=IP"});
  EXPECT_EQ(a.verdict, AdapterVerdict::kOther);
}

TEST(AssessAdapter, TunnelIdentityNeedsWordBoundaries) {
  // "tun0" is no word "TUN"; a description naming WireGuard is.
  auto plain = assess_adapter(make_adapter("tun0", 5, 999), {}, {});
  EXPECT_DOUBLE_EQ(plain.tunnel_score, 0);
  Adapter wg = make_adapter("wg0", 5, 999);
  wg.description = "WireGuard tunnel";
  auto named = assess_adapter(wg, {}, {default_v4(5, "")});
  EXPECT_DOUBLE_EQ(named.tunnel_score, 8);
  EXPECT_DOUBLE_EQ(named.carrier_score, 1);
  EXPECT_EQ(named.verdict, AdapterVerdict::kTunnel);
  EXPECT_DOUBLE_EQ(named.confidence, 0.9);
}

TEST(AssessAdapter, VirtualAdapterOwningDefaultRouteIsSuspected) {
  Adapter veth = make_adapter("veth9", 11, kIfTypeEthernet, "02:00:00:00:00:09");
  std::map<std::string, DeviceRecord> devices = {
      {"02:00:00:00:00:09", device("veth9", false, "02:00:00:00:00:09")}};
  auto a = assess_adapter(veth, devices, {default_v4(11, "")});
  EXPECT_DOUBLE_EQ(a.tunnel_score, 5.5);
  EXPECT_DOUBLE_EQ(a.carrier_score, 3);
  EXPECT_EQ(a.verdict, AdapterVerdict::kSuspectedTunnel);
  EXPECT_DOUBLE_EQ(a.confidence, 0.69);
}

TEST(AssessAdapter, FallbackRulesForAdaptersWithDefaultRoute) {
  // Wireless without a device record: media type alone makes it a carrier.
  auto w =
      assess_adapter(make_adapter("wlp2s0", 3, kIfTypeWireless), {}, {default_v4(3, "10.0.0.1")});
  EXPECT_DOUBLE_EQ(w.carrier_score, 3);
  EXPECT_EQ(w.verdict, AdapterVerdict::kCarrier);
  EXPECT_DOUBLE_EQ(w.confidence, 0.68);
  // Unknown media type: nothing to go by.
  auto u = assess_adapter(make_adapter("x0", 4, 53), {}, {default_v4(4, "10.0.0.1")});
  EXPECT_EQ(u.verdict, AdapterVerdict::kAmbiguousRoute);
  EXPECT_DOUBLE_EQ(u.confidence, 0.45);
}

TEST(AssessAdapter, BridgeAndCarrierIdentitiesSuppressVirtualRouteSignals) {
  Adapter docker = make_adapter("docker0", 6, 999, "02:42:00:00:00:01");
  std::map<std::string, DeviceRecord> devices = {
      {"02:42:00:00:00:01", device("docker0", false, "02:42:00:00:00:01")}};
  auto a = assess_adapter(docker, devices, {default_v4(6, "")});
  EXPECT_DOUBLE_EQ(a.tunnel_score, 1.5);
  EXPECT_DOUBLE_EQ(a.carrier_score, 5);
  EXPECT_EQ(a.verdict, AdapterVerdict::kCarrier);
  EXPECT_DOUBLE_EQ(a.confidence, 0.81);

  Adapter usb = make_adapter("usb0", 8, kIfTypeEthernet);
  usb.description = "USB phone tether";
  auto b = assess_adapter(usb, {}, {default_v4(8, "")});
  EXPECT_DOUBLE_EQ(b.tunnel_score, 0);
  EXPECT_DOUBLE_EQ(b.carrier_score, 8);
  EXPECT_EQ(b.verdict, AdapterVerdict::kCarrier);
}

}  // namespace
}  // namespace corvale
