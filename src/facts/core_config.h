// A known proxy core's configuration read by its keys: the local listeners it
// opens and the controllers it serves, and nothing else of the file (DNS
// listeners, hijack rules, upstream servers and rule payloads name no proxy).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// What a core's configuration opens on this host.
struct CoreConfigEndpoints {
  std::vector<ProxyEndpoint> listeners;
  /// TCP controllers ("host", port) and unix-socket ones (scheme "unix", the
  /// path as host, port 0).
  std::vector<ProxyEndpoint> controllers;
  /// `external-controller: ""`: the TCP controller is off on purpose.
  bool tcp_controller_off = false;
};

/// The endpoints of a mihomo/clash YAML or sing-box JSON configuration, each
/// with `source`; nothing when the text is neither.
std::optional<CoreConfigEndpoints> core_config_endpoints(std::string_view text,
                                                         const std::string& source);

}  // namespace corvale
