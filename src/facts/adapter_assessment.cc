#include "facts/adapter_assessment.h"

#include <algorithm>

#include "facts/products.h"
#include "util/ip.h"
#include "util/regex.h"
#include "util/text.h"

namespace corvale {

std::string media_type_text(uint32_t if_type) {
  switch (if_type) {
    case kIfTypeEthernet:
      return "802.3";
    case kIfTypeLoopback:
      return "Loopback";
    case kIfTypeWireless:
      return "Native 802.11";
    case kIfTypeTunnel:
      return "IP";
    default:
      return "IfType " + std::to_string(if_type);
  }
}

bool is_fake_ip_style(std::string_view address) {
  auto ip = parse_ip(address);
  if (!ip) return false;
  if (ip->is_v4()) return ip->bytes[0] == 198 && (ip->bytes[1] == 18 || ip->bytes[1] == 19);
  return to_lower(trim_view(address)).starts_with("fdfe:");
}

bool is_loopback_dns(std::string_view address) {
  return address.starts_with("127.") || address == "::1";
}

bool is_default_route(const RouteEntry& route) {
  if (route.prefix_length != 0) return false;
  if (route.family == kFamilyV4) return route.destination == "0.0.0.0";
  if (route.family == kFamilyV6) return route.destination == "::";
  return false;
}

std::string pingable_gateway(const RouteEntry& route) {
  const std::string& gw = route.gateway;
  if (gw.starts_with("fe80:") && gw.find('%') == std::string::npos)
    return gw + "%" + std::to_string(route.if_index);
  return gw;
}

bool is_tunnel_interface(const Facts& facts, uint32_t if_index) {
  auto it = facts.assessments_by_index.find(if_index);
  if (it == facts.assessments_by_index.end()) return false;
  return it->second.verdict == AdapterVerdict::kTunnel ||
         it->second.verdict == AdapterVerdict::kSuspectedTunnel;
}

bool has_conventional_gateway(const RouteEntry& route) {
  return !route.gateway.empty() && !is_unspecified_ip(route.gateway);
}

namespace {

std::vector<std::string> fake_ip_of(const std::vector<std::string>& addresses) {
  std::vector<std::string> out;
  for (const auto& a : addresses)
    if (is_fake_ip_style(a)) out.push_back(a);
  return out;
}

bool is_wired_or_wireless(const std::string& media) {
  return media == "802.3" || media == "Native 802.11";
}

}  // namespace

AdapterAssessment assess_adapter(const Adapter& adapter,
                                 const std::map<std::string, DeviceRecord>& devices_by_mac,
                                 const std::vector<RouteEntry>& routes) {
  AdapterAssessment a;
  a.name = adapter.name;

  const DeviceRecord* device = nullptr;
  if (!adapter.mac_address.empty()) {
    auto it = devices_by_mac.find(to_upper(adapter.mac_address));
    if (it != devices_by_mac.end()) device = &it->second;
  }
  a.physical = device == nullptr ? 2 : (device->status == 4 ? 1 : 0);

  for (const auto& r : routes) {
    if (r.if_index != adapter.if_index || !is_default_route(r)) continue;
    a.has_default_route = true;
    if (has_conventional_gateway(r)) a.has_conventional_gateway = true;
  }

  const std::string instance_id = device ? device->instance_id : std::string();
  const std::string haystack = adapter.name + " " + adapter.description + " " + instance_id + " " +
                               (device ? device->service : "") + " " +
                               (device ? device->name : "") +
                               // A WireGuard link named wg0 says what it is only through its kind.
                               (adapter.link_kind.empty() ? "" : " " + adapter.link_kind);

  const bool virtual_root = static_regex(R"((?i)^(ROOT|SWD|HTREE)\\)").is_match(instance_id);
  const bool virtual_bridge =
      static_regex(
          R"((?i)VMware|VirtualBox|Hyper-V|vEthernet|Docker|WSL|Npcap|Loopback|Bluetooth.*PAN)")
          .is_match(haystack);
  const bool carrier =
      static_regex(R"((?i)\b(PPP|RAS|RNDIS|WWAN|LTE|5G|cellular|mobile broadband)\b|USB.*tether)")
          .is_match(haystack);
  const bool tunnel_identity = product_patterns().tunnel_adapter.is_match(haystack);
  const bool hardware = static_regex(R"((?i)^(PCI|USB)\\)").is_match(instance_id);
  const bool device_virtual = device != nullptr && device->status != 4;
  a.is_virtual = virtual_root || device_virtual;

  std::vector<std::string> addresses;
  for (const auto& x : adapter.ipv4_addresses) addresses.push_back(x.address);
  for (const auto& x : adapter.ipv6_addresses) addresses.push_back(x.address);
  a.fake_ip_addresses = fake_ip_of(addresses);

  std::vector<std::string> dns = adapter.dns_servers;
  dns.erase(std::unique(dns.begin(), dns.end()), dns.end());
  a.fake_ip_dns = fake_ip_of(dns);
  for (const auto& d : dns)
    if (is_loopback_dns(d)) a.loopback_dns.push_back(d);
  a.fake_ip_addresses_text = join(a.fake_ip_addresses, ", ");
  a.fake_ip_dns_text = join(a.fake_ip_dns, ", ");
  a.loopback_dns_text = join(a.loopback_dns, ", ");

  const std::string media = media_type_text(adapter.if_type);
  double t = 0;
  if (media == "IP") {
    t = 6;
    a.reasons.push_back("MediaType=IP");
  }
  if (tunnel_identity) {
    t += 8;
    a.reasons.push_back("tunnel/VPN identity in adapter, service or driver");
  }
  if (!a.fake_ip_addresses.empty()) {
    t += 6;
    a.reasons.push_back("198.18/15 or fdfe:: style interface address");
  }
  if (!a.fake_ip_dns.empty()) {
    t += 5;
    a.reasons.push_back("198.18/15 or fdfe:: style DNS");
  }
  if (!a.loopback_dns.empty()) {
    t += 0.75;
    a.reasons.push_back("loopback DNS (weak signal)");
  }
  if (!virtual_bridge && !carrier && a.has_default_route && a.is_virtual) {
    t += 4;
    a.reasons.push_back("virtual/non-physical adapter owns default route");
  }
  if (!a.has_conventional_gateway && !carrier && a.has_default_route && a.is_virtual) {
    t += 1.5;
    a.reasons.push_back("default route without conventional gateway");
  }

  double c = 0;
  if (a.physical == 1) {
    c = 7;
    a.reasons.push_back("Win32_NetworkAdapter.PhysicalAdapter=true");
  }
  if (is_wired_or_wireless(media)) c += 2;
  if (hardware && !device_virtual) {
    c += 2.5;
    a.reasons.push_back("hardware-enumerated PCI/USB network device");
  }
  if (carrier) {
    c += 5;
    a.reasons.push_back("PPP/RNDIS/WWAN carrier identity");
  }
  if (virtual_bridge && a.has_default_route) {
    c += 4;
    a.reasons.push_back("known virtual/bridged carrier identity");
  }
  if (a.has_default_route) c += 1;

  t = round2(t);
  c = round2(c);
  a.tunnel_score = t;
  a.carrier_score = c;

  double confidence = 0;
  if (t >= 7 && t > c + 1.5) {
    a.verdict = AdapterVerdict::kTunnel;
    confidence = std::min(0.74 + 0.02 * t, 0.98);
  } else if (a.has_default_route && t >= 4 && t >= c) {
    a.verdict = AdapterVerdict::kSuspectedTunnel;
    confidence = std::min(0.5 + 0.035 * t, 0.79);
  } else if (!a.has_default_route) {
    // An adapter without a default route carries no traffic out of the host,
    // however physical it is (an idle Wi-Fi card is not a carrier).
    a.verdict = AdapterVerdict::kOther;
    confidence = 0.35;
  } else if (c >= 5 && t < c) {
    a.verdict = AdapterVerdict::kCarrier;
    confidence = std::min(0.68 + 0.025 * c, 0.98);
  } else if (a.is_virtual) {
    a.verdict = AdapterVerdict::kAmbiguousRoute;
    confidence = 0.45;
  } else if (is_wired_or_wireless(media)) {
    a.verdict = AdapterVerdict::kCarrier;
    confidence = 0.68;
  } else {
    a.verdict = AdapterVerdict::kAmbiguousRoute;
    confidence = 0.45;
  }
  a.confidence = round2(confidence);
  return a;
}

}  // namespace corvale
