// Running systemd services, and those that name a tunnel or proxy product.
#pragma once

#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// Units of `systemctl list-units ... --no-legend --plain` output: the first
/// column (status markers removed) as name, the second as load state.
std::vector<ServiceEntry> parse_service_units(std::string_view text);

/// The running service units; empty when systemctl is missing or fails.
std::vector<ServiceEntry> list_running_services();

/// The entries whose name, load state and path name a tunnel, VPN or proxy
/// product, in order.
std::vector<ServiceEntry> match_services(const std::vector<ServiceEntry>& services);

}  // namespace corvale
