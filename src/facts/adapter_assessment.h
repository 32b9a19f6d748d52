// Scores one adapter as tunnel, carrier or neither from its identity, its
// addresses, its DNS servers and the default routes it owns.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// "802.3", "Loopback", "Native 802.11", "IP", or "IfType N" for any other type.
std::string media_type_text(uint32_t if_type);

/// 198.18.0.0/15, or an IPv6 address written with the "fdfe:" prefix.
bool is_fake_ip_style(std::string_view address);

/// Text starting with "127." or exactly "::1".
bool is_loopback_dns(std::string_view address);

/// 0.0.0.0/0 of an IPv4 route or ::/0 of an IPv6 route.
bool is_default_route(const RouteEntry& route);

/// A gateway that is neither empty nor the unspecified address.
bool has_conventional_gateway(const RouteEntry& route);
/// The gateway as ping needs it: a link-local IPv6 gateway without a zone gets
/// the route's interface index ("fe80::1%2").
std::string pingable_gateway(const RouteEntry& route);

/// The one test by which a route's interface counts as a tunnel: its
/// assessment says "Tunnel" or "SuspectedTunnel". The graph's selected-route
/// step and the report's Tunnel block both ask this, so they never disagree.
bool is_tunnel_interface(const Facts& facts, uint32_t if_index);

AdapterAssessment assess_adapter(const Adapter& adapter,
                                 const std::map<std::string, DeviceRecord>& devices_by_mac,
                                 const std::vector<RouteEntry>& routes);

}  // namespace corvale
