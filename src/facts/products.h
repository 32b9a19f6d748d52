// The proxy, tunnel and VPN products corvale recognises, by name: every
// product pattern of the program stands side by side in products.cc, so a new
// product is added in one place and each reader sees the same list.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facts/facts.h"
#include "util/regex.h"

namespace corvale {

/// Each pattern answers one question about a name or an identity text; they
/// differ on purpose (which words count, case sensitivity, anchoring), since
/// each one's readers depend on exactly what it matches.
struct ProductPatterns {
  /// Known proxy and tunnel products in a process identity.
  Regex known_identity;
  /// Weak hint of a proxy-like program that is not a known product.
  Regex generic_identity;
  /// Interactive applications (browsers, chat, office, editors): a negative prior.
  Regex interactive_app;
  /// Anything that may be a proxy core, including the generic words proxy/tunnel.
  Regex proxy_core;
  /// Cores that serve a mihomo/clash-style controller interface.
  Regex controller_core;
  /// Desktop front ends (process names) that start a core as their child and
  /// carry no traffic themselves: never the proxy core.
  Regex gui_front_end;
  /// sing-box, whose controller its JSON configuration's clash_api names.
  Regex singbox_core;
  /// Process names (comm) of proxy and VPN clients; case-sensitive.
  Regex proxy_process_name;
  /// Running system services of tunnel drivers and proxy products.
  Regex product_service;
  /// Folder names under which a proxy core keeps its configuration.
  Regex config_folder;
  /// Adapter names, descriptions and link kinds of tunnel and VPN drivers.
  Regex tunnel_adapter;
  /// Process names whose tunnel capture the graph traces.
  Regex capture_process;
  /// Short display names for capture processes, first match wins.
  std::vector<std::pair<Regex, std::string>> capture_short_names;
  /// Proxy-core process names the report's chain names (case-sensitive).
  Regex chain_core;
  /// The same without the bare "clash" family word, which the chain prefers less.
  Regex chain_preferred_core;
};

/// The table, compiled once for the process and shared by every thread.
const ProductPatterns& product_patterns();

/// "{name} {exe_path} {command_line}", the text every identity pattern reads.
std::string process_identity(const ProcessInfo& p);
/// A proxy core: the core pattern matches and the text is either not an
/// interactive application or also names a proxy/tunnel product.
bool is_proxy_core_identity(std::string_view identity);
/// Processes whose controller is queried: the mihomo family and sing-box.
bool is_controller_core(std::string_view identity);
/// sing-box by its identity text.
bool is_singbox_core(std::string_view identity);
/// Whether a process name is a proxy GUI's front end ("clash-verge"), which
/// starts the core ("verge-mihomo") but is not it.
bool is_gui_front_end(std::string_view name);
/// Whether a process name holds a proxy, tunnel or VPN product name; case
/// matters ("Clash-Verge" is a desktop front end, not a core).
bool is_proxy_process_name(std::string_view name);
/// Proxy-core and tunnel-client process names the capture trace follows.
bool is_capture_process(std::string_view name);
/// The short display name ("mihomo", "singbox", …), or `name` itself.
std::string capture_short_name(std::string_view name);

}  // namespace corvale
