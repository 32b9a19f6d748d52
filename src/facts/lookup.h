// Questions about the finished record that the findings, the graph, the
// candidates' scoring and the renderers all ask, answered once here.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

const Adapter* find_adapter(const Facts& facts, uint32_t if_index);

/// The name of the adapter with `if_index`; absent when no adapter has it.
/// Each renderer decides what stands for an absent one and escapes the name
/// for its medium.
std::optional<std::string> adapter_name(const Facts& facts, uint32_t if_index);

/// The adapter's name, or "ifIndex N" for an index no adapter has: for
/// sentences that must name it anyway.
std::string adapter_label(const Facts& facts, uint32_t if_index);

/// The name the process scan recorded for `pid`; absent when it has none.
std::optional<std::string> process_name(const Facts& facts, uint32_t pid);

/// "host:port", with an IPv6 host in brackets.
std::string endpoint_text(std::string_view host, uint16_t port);

/// "0 bps", "999 bps", "1 Kbps", "2.5 Gbps" …
std::string speed_text(uint64_t bps);

/// Loopback, unspecified, one of the host's own addresses or one of its own
/// names: a connection to it stays on this host.
bool is_local_host(const Facts& facts, std::string_view host);

/// The addresses a program connecting to `host` tries, normalised: an address
/// itself; "localhost" 127.0.0.1 and ::1, as /etc/hosts gives them; any other
/// name the addresses the caller resolved it to (`resolved`), since the record
/// holds no name lookups.
std::vector<std::string> connect_addresses(std::string_view host,
                                           const std::vector<std::string>& resolved = {});

/// Whether `listener` accepts a TCP connection to `host`:`port`, tried at each
/// address of connect_addresses. A listener on 0.0.0.0 takes IPv4 only, one on
/// [::] IPv6 only, a dual-stack one (ss shows it as "*") both; either takes
/// only addresses that stay on this host (loopback, unspecified or one of
/// `local_addresses`). A listener on one address takes only that address.
bool listener_accepts(const SocketEntry& listener, std::string_view host, uint16_t port,
                      const std::set<std::string>& local_addresses,
                      const std::vector<std::string>& resolved = {});

/// The first TCP listener of `facts` that accepts a connection to
/// `host`:`port`, by listener_accepts; null when none does.
const SocketEntry* accepting_listener(const Facts& facts, std::string_view host, uint16_t port);

}  // namespace corvale
