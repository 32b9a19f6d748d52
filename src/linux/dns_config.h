// The host's name servers, from the resolver configuration file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

}  // namespace corvale
