// Network interfaces from `ip -d -j addr show`, their link speeds, and the device
// record that says whether an interface is taken as hardware or virtual.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// IANA ifType from the interface name: lo 24, wl* 71, tunnels 131, else 6.
/// (Its media type text, media_type_text, lives with the adapter assessment.)
uint32_t if_type_for_name(std::string_view name);

/// Adapters of `ip [-d] -j addr show` output in listing order, each carrying a
/// copy of `dns_servers`; link speeds stay 0; `link_kind` from the details of
/// `-d`. Anything but a JSON array gives none.
std::vector<Adapter> parse_ip_addr_json(std::string_view json,
                                        const std::vector<std::string>& dns_servers);

/// Bits per second from the text of /sys/class/net/NAME/speed (Mbit/s);
/// 0 when unparsable, negative (link down) or too large to convert.
uint64_t parse_link_speed(std::string_view speed_file_text);

/// Whether `name` can be used as one path component under /sys/class/net.
bool is_safe_interface_name(std::string_view name);

/// Runs the listing, reads the name servers once and the link speeds.
std::vector<Adapter> list_adapters();

/// One record per adapter with a MAC address, keyed by that (upper-case) MAC;
/// a later adapter with the same MAC wins.
std::map<std::string, DeviceRecord> device_records_for(const std::vector<Adapter>& adapters);

/// device_records_for over a fresh listing.
std::map<std::string, DeviceRecord> build_device_records();

}  // namespace corvale
