#include "linux/adapters.h"

#include <charconv>
#include <initializer_list>
#include <limits>

#include "linux/dns_config.h"
#include "linux/json_fields.h"
#include "util/command.h"
#include "util/file.h"
#include "util/text.h"

namespace corvale {
namespace {

using json_fields::text_field;
using json_fields::uint_field;

bool starts_with_any(std::string_view s, std::initializer_list<std::string_view> prefixes) {
  for (auto p : prefixes)
    if (s.starts_with(p)) return true;
  return false;
}

void add_addresses(const nlohmann::json& addr_info, Adapter& a) {
  if (!addr_info.is_array()) return;
  for (const auto& e : addr_info) {
    if (!e.is_object()) continue;
    std::string local = text_field(e, "local");
    if (local.empty()) continue;
    std::string family = text_field(e, "family");
    uint8_t prefix = uint_field<uint8_t>(e, "prefixlen").value_or(0);
    if (family == "inet") {
      a.ipv4_addresses.push_back({std::move(local), prefix});
    } else if (family == "inet6") {
      local = local.substr(0, local.find('%'));  // zone suffix
      a.ipv6_addresses.push_back({std::move(local), prefix});
    }
  }
}

// The kernel's link kind from `ip -d` "linkinfo"; a tun device is "tun" or
// "tap" by its mode. Lower case, at most a short word, so that hostile output
// cannot grow the tunnel-identity haystack.
std::string link_kind(const nlohmann::json& element) {
  auto it = element.find("linkinfo");
  if (it == element.end() || !it->is_object()) return {};
  std::string kind = to_lower(text_field(*it, "info_kind"));
  if (kind == "tun") {
    auto data = it->find("info_data");
    if (data != it->end() && data->is_object() && text_field(*data, "type") == "tap") kind = "tap";
  }
  constexpr size_t kMaxKind = 32;
  if (kind.size() > kMaxKind) return {};
  return kind;
}

}  // namespace

uint32_t if_type_for_name(std::string_view name) {
  std::string n = to_lower(name);
  if (n.starts_with("lo")) return kIfTypeLoopback;
  if (n.starts_with("wl")) return kIfTypeWireless;
  if (starts_with_any(n, {"tun", "tap", "wg", "utun", "ppp", "sit", "ip6tnl"}))
    return kIfTypeTunnel;
  return kIfTypeEthernet;
}

// The kernel's link type says what a name cannot: a TUN device may be called
// anything ("Mihomo", "Meta", "proton0"). Ethernet-framed links (wired,
// wireless, tap) look alike there, so their name still tells them apart.
uint32_t if_type_of(std::string_view link_type, std::string_view kind, std::string_view name) {
  if (link_type == "loopback") return kIfTypeLoopback;
  if (kind == "tun" || kind == "wireguard") return kIfTypeTunnel;
  for (std::string_view t : {"none", "ppp", "sit", "tunnel", "tunnel6", "ipip", "gre", "ip6gre"})
    if (link_type == t) return kIfTypeTunnel;
  return if_type_for_name(name);
}

std::vector<Adapter> parse_ip_addr_json(std::string_view json,
                                        const std::vector<std::string>& dns_servers) {
  auto doc = json_fields::parse_lenient(json);
  if (doc.is_discarded() || !doc.is_array()) return {};
  std::vector<Adapter> out;
  for (const auto& e : doc) {
    if (!e.is_object()) continue;
    Adapter a;
    a.name = text_field(e, "ifname");
    if (a.name.empty()) continue;
    a.description = a.name;
    a.if_index = uint_field<uint32_t>(e, "ifindex").value_or(0);
    a.is_up = text_field(e, "operstate") == "UP";
    a.mac_address = to_upper(text_field(e, "address"));
    a.mtu = uint_field<uint32_t>(e, "mtu").value_or(0);
    a.link_kind = link_kind(e);
    a.if_type = if_type_of(text_field(e, "link_type"), a.link_kind, a.name);
    if (auto it = e.find("addr_info"); it != e.end()) add_addresses(*it, a);
    a.dns_servers = dns_servers;
    out.push_back(std::move(a));
  }
  return out;
}

uint64_t parse_link_speed(std::string_view text) {
  auto t = trim_view(text);
  int64_t mbps = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), mbps);
  if (t.empty() || ec != std::errc{} || p != t.data() + t.size() || mbps < 0) return 0;
  constexpr uint64_t kMega = 1'000'000;
  if (static_cast<uint64_t>(mbps) > std::numeric_limits<uint64_t>::max() / kMega) return 0;
  return static_cast<uint64_t>(mbps) * kMega;
}

bool is_safe_interface_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::vector<Adapter> list_adapters() {
  // -d adds each link's kind, the only sign of a WireGuard link named wg0.
  std::string json = run_command_text("ip", {"-d", "-j", "addr", "show"});
  auto adapters = parse_ip_addr_json(json, read_dns_servers());
  for (auto& a : adapters) {
    if (!is_safe_interface_name(a.name)) continue;
    auto speed = read_file("/sys/class/net/" + a.name + "/speed", 64);
    if (speed) a.link_speed_bps = parse_link_speed(*speed);
  }
  return adapters;
}

std::map<std::string, DeviceRecord> device_records_for(const std::vector<Adapter>& adapters) {
  std::map<std::string, DeviceRecord> out;
  for (const auto& a : adapters) {
    if (a.mac_address.empty()) continue;
    std::string n = to_lower(a.name);
    bool is_virtual = starts_with_any(n, {"lo", "tun", "tap", "wg", "utun", "veth", "docker", "br-",
                                          "virbr", "vmnet", "vboxnet", "ppp", "sit", "ip6tnl"});
    DeviceRecord r;
    r.instance_id = is_virtual ? "ROOT\\CORVALE" : "PCI\\CORVALE";
    r.service = "corvale-linux";
    r.status = is_virtual ? 1 : 4;
    r.name = a.name;
    r.mac_address = to_upper(a.mac_address);
    out.insert_or_assign(r.mac_address, std::move(r));
  }
  return out;
}

std::map<std::string, DeviceRecord> build_device_records() {
  return device_records_for(list_adapters());
}

}  // namespace corvale
