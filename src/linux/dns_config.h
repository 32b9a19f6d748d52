// The host's name servers, from the resolver configuration file.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// Name servers of resolv.conf text: the rest of every trimmed line that starts
/// with "nameserver", trimmed, each once, in file order.
std::vector<std::string> parse_resolv_conf(std::string_view text);

/// Name servers of /etc/resolv.conf; empty when it cannot be read.
std::vector<std::string> read_dns_servers();

/// Whether `servers` name systemd-resolved's local stub (127.0.0.53 or 127.0.0.54).
bool names_resolved_stub(const std::vector<std::string>& servers);

/// The servers systemd-resolved forwards to (/run/systemd/resolve/resolv.conf)
/// when `servers` name its stub; empty otherwise or when it cannot be read.
std::vector<std::string> read_upstream_dns_servers(const std::vector<std::string>& servers);

/// Each link's own name servers, keyed by interface name.
using LinkDns = std::map<std::string, std::vector<std::string>>;

/// The per-link servers of `resolvectl dns` output ("Link 4 (wg0): 10.64.0.1
/// fe80::1%4"): DoT server names ("#name") and ports are cut off, links
/// without servers and the global line are left out.
LinkDns parse_resolvectl_dns(std::string_view text);

/// systemd-resolved can keep a client waiting on D-Bus when it does not run.
inline constexpr std::chrono::milliseconds kResolvectlLimit{800};

/// Runs `resolvectl dns` within its own limit; empty where the command is
/// missing, fails or takes too long.
LinkDns read_link_dns();

/// Gives every adapter that `links` names its own servers in place of the
/// global list.
void apply_link_dns(std::vector<Adapter>& adapters, const LinkDns& links);

}  // namespace corvale
