// TCP and UDP socket tables from `ss`, with owner process ids.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// The system's code for an `ss` state column ("LISTEN" 2, "ESTAB" 5, ...);
/// 0 for unknown text.
uint8_t tcp_state_code(std::string_view state);

/// Address and port of one `ss` address column: "[::]:443" gives {"::", 443},
/// "*:5353" {"0.0.0.0", 5353}, "127.0.0.53%lo:53" and "[fe80::1]%eth0:546"
/// lose their interface suffix. A port that is not a number gives 0.
std::pair<std::string, uint16_t> parse_endpoint(std::string_view field);

/// Entries of `ss -H -tanp` (tcp) or `ss -H -uanp` output in line order. Lines
/// of fewer than five fields are skipped; the first "pid=N" is the owner.
std::vector<SocketEntry> parse_ss_output(std::string_view text, bool tcp);

/// Union of several samples: each distinct entry (all six fields) once, in
/// the order first seen.
std::vector<SocketEntry> merge_socket_samples(const std::vector<std::vector<SocketEntry>>& samples);

/// The entries in the listening state, in order.
std::vector<SocketEntry> listening_entries(const std::vector<SocketEntry>& sockets);

struct TcpSockets {
  std::vector<SocketEntry> tcp_sockets;
  std::vector<SocketEntry> tcp_listeners;
};

/// Three samples of the TCP table 180 ms apart, merged, so that short-lived
/// connections of a proxy are caught; plus the listeners among them.
TcpSockets collect_tcp_sockets();

/// One sample of the UDP table.
std::vector<SocketEntry> collect_udp_sockets();

}  // namespace corvale
