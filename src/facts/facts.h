// Everything one run learns about the host. Built once by the collect stage,
// then read (const) by the summary, the graph build and the report.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "facts/verdicts.h"

namespace corvale {

inline constexpr uint16_t kFamilyV4 = 2;
inline constexpr uint16_t kFamilyV6 = 23;

inline constexpr uint32_t kIfTypeEthernet = 6;
inline constexpr uint32_t kIfTypeLoopback = 24;
inline constexpr uint32_t kIfTypeWireless = 71;
inline constexpr uint32_t kIfTypeTunnel = 131;

// ---- host records -------------------------------------------------------

struct InterfaceAddress {
  std::string address;
  uint8_t prefix_length = 0;
  bool operator==(const InterfaceAddress&) const = default;
};

struct Adapter {
  std::string name;
  std::string description;
  uint32_t if_index = 0;
  uint32_t if_type = 0;
  bool is_up = false;
  bool dhcp_enabled = false;  // an address of this adapter was leased (dynamic)
  std::string mac_address;
  uint32_t mtu = 0;
  uint64_t link_speed_bps = 0;
  std::vector<InterfaceAddress> ipv4_addresses;
  std::vector<InterfaceAddress> ipv6_addresses;
  std::vector<std::string> dns_servers;
  // The kernel's own link kind ("wireguard", "tun", "tap", "bridge", "veth",
  // "gre" ...), empty for a plain device; part of the tunnel-identity evidence.
  std::string link_kind;
};

struct RouteEntry {
  std::string destination;
  std::string gateway;
  uint32_t if_index = 0;
  uint32_t metric = 0;
  uint16_t family = kFamilyV4;
  uint8_t prefix_length = 0;
  // The policy-routing table the route was read from; empty for the main table.
  std::string table = {};
  // Priority of the first rule that sends local traffic to this route; the
  // lower wins before any metric does (0 when no rules were read).
  uint32_t rule_priority = 0;
  bool operator==(const RouteEntry&) const = default;
};

/// One policy-routing rule (`ip -j rule`). Only what decides whether the
/// host's own programs' traffic reaches it is kept.
struct PolicyRule {
  uint32_t priority = 0;
  uint16_t family = kFamilyV4;
  std::string table = {};   // for a lookup rule; "main", "local", "51820" ...
  std::string action = {};  // empty for a lookup, else "unreachable", "blackhole", "goto" ...
  bool invert = false;      // "not"
  std::string fwmark = {};  // "0xca6c" or "0xca6c/0xffff"; empty when none
  std::string iif = {}, oif = {};
  bool narrow = false;  // a source, destination, port, protocol or tos selector
  std::optional<uint32_t> uid_start = {}, uid_end = {};
  std::optional<uint8_t> suppress_prefixlength = {};
  uint32_t table_routes = 0;  // routes the named table held when read
  bool operator==(const PolicyRule&) const = default;
};

struct RouteLookup {
  uint32_t if_index = 0;
  std::optional<std::string> via;
  std::optional<std::string> source;
  uint16_t family = kFamilyV4;
  bool operator==(const RouteLookup&) const = default;
};

struct DeviceRecord {
  std::string instance_id;  // "PCI\CORVALE" hardware, "ROOT\CORVALE" virtual
  std::string service;      // "corvale-linux"
  uint8_t status = 0;       // 4 hardware, 1 virtual
  std::string name;
  std::string mac_address;
};

struct AdapterAssessment {
  AdapterVerdict verdict = AdapterVerdict::kUnassessed;
  double confidence = 0;
  double tunnel_score = 0;
  double carrier_score = 0;
  std::vector<std::string> reasons;
  std::vector<std::string> fake_ip_addresses;
  std::vector<std::string> fake_ip_dns;
  std::vector<std::string> loopback_dns;
  std::string fake_ip_addresses_text;  // joined with ", "
  std::string fake_ip_dns_text;
  std::string loopback_dns_text;
  std::string name;
  bool is_virtual = false;
  bool has_default_route = false;
  bool has_conventional_gateway = false;
  uint8_t physical = 2;  // 0 no, 1 yes, 2 no device record
};

inline constexpr uint8_t kTcpListen = 2;
inline constexpr uint8_t kTcpEstablished = 5;

struct SocketEntry {
  std::string local_address;
  uint16_t local_port = 0;
  std::string remote_address;
  uint16_t remote_port = 0;
  uint8_t state = 0;
  uint32_t pid = 0;
  // ss shows a socket on :: that also takes IPv4 as "*"; its local_address
  // reads "0.0.0.0" as before, and this says it takes IPv6 too.
  bool dual_stack = false;
  bool operator==(const SocketEntry&) const = default;
};

struct ProcessInfo {
  uint32_t pid = 0;
  std::string name;
  std::string exe_path;
  std::string command_line;
  bool operator==(const ProcessInfo&) const = default;
};

struct ServiceEntry {
  std::string name;
  std::optional<std::string> load_state;
  std::string status = "Running";
  std::string path;
  bool operator==(const ServiceEntry&) const = default;
};

struct ProxyEndpoint {
  std::string source;
  std::string host;
  std::string scheme;
  uint16_t port = 0;
  bool operator==(const ProxyEndpoint&) const = default;
};

struct ProxySettings {
  std::string proxy_server;
  bool proxy_enabled = false;
  std::string proxy_override;   // hosts that bypass the proxy, ';'-separated
  std::string auto_config_url;  // a PAC script's URL
  bool auto_detect = false;     // the proxy is looked for on the network (WPAD)
  std::string desktop;          // "GNOME" or "KDE" when the desktop's setting filled these
  std::string winhttp_text;
  std::vector<ProxyEndpoint> endpoints;
  // Controllers that proxy cores' configuration files name: no proxies.
  std::vector<ProxyEndpoint> config_controllers;
};

struct RouteSourceProbe {
  bool connected = false;
  std::string source_address;
  uint32_t route_if_index = 0;
  uint32_t socket_if_index = 0;
  bool mismatch = false;
};

// ---- probe results --------------------------------------------------------

struct PingResult {
  bool ok = false;
  int64_t rtt_ms = -1;
};

inline constexpr uint64_t kNoReplyMs = ~uint64_t{0};

struct DnsProbeResult {
  std::string answer;
  uint64_t elapsed_ms = kNoReplyMs;
  bool ok = false;
};

struct HttpResponse {
  std::string body;
  uint64_t elapsed_ms = 0;
  uint16_t status = 0;
};
/// Absent means no response (could not connect, could not send, too many redirects).
using HttpResult = std::optional<HttpResponse>;

/// The Internet targets of the reachability probes and the egress lookups.
inline constexpr const char* kInternetTargetV4 = "223.5.5.5";
inline constexpr const char* kInternetTargetV6 = "2400:3200::1";

struct InternetProbes {
  PingResult v4;  // kInternetTargetV4
  PingResult v6;  // kInternetTargetV6
};

struct GatewayProbe {
  std::string gateway;  // as pinged (a link-local gateway carries %ifindex)
  uint32_t if_index = 0;
  uint16_t family = kFamilyV4;
  bool ok = false;
};

enum class TcpFallback { kNotTried, kConnected, kFailed };

struct CampusProbeResult {
  std::optional<HttpResponse> http;   // kinds 0, 1, 4 (absent: no response)
  std::optional<DnsProbeResult> dns;  // kinds 2, 3
  TcpFallback tcp_fallback = TcpFallback::kNotTried;
  uint64_t tcp_ms = 0;
};

struct CampusLoginInfo {
  bool recognized = false;
  std::string user_name;
  std::string online_ip;
  std::string sum_bytes;
  std::string sum_seconds;
  std::string error;  // the reply's own "error" ("ok", "not_online_error"), even when unrecognized
};

struct CampusHostReach {
  std::string host;
  PingResult ping;
};

struct CampusProbes {
  std::vector<CampusHostReach> reachability;  // 10.0.0.55, 10.0.32.32, 10.0.32.33, 10.0.0.54
  std::vector<CampusProbeResult> probes;      // kinds 0..4; empty until probed
  bool portal_ok = false;
  std::string portal_title;
  CampusLoginInfo login;
};

struct ControllerEndpointResult {
  std::string label;  // "http://{host}:{port}"
  bool answered = false;
};

struct ProxyEntry {
  std::string name, type, server, port;
};

/// One element of a core's /connections list, read once where the controller
/// answers. Field names follow the controller's own keys; ports are numbers
/// here although mihomo sends them as text.
struct CoreConnection {
  std::string id;
  std::string network;       // metadata.network: "tcp", "udp"
  std::string inbound_type;  // metadata.type: "Tun", "Mixed", "HTTP", "Socks5", "Redir", "TProxy"
  std::string source_ip;
  uint16_t source_port = 0;
  std::string destination_ip;
  uint16_t destination_port = 0;
  std::string inbound_ip;
  uint16_t inbound_port = 0;
  std::string inbound_name;
  std::string inbound_user;
  std::string host;
  std::string dns_mode;
  uint32_t uid = 0;
  std::string process;  // mihomo's "process", older clash cores' "processName"
  std::string process_path;
  std::string special_proxy;
  std::string special_rules;
  std::string remote_destination;
  std::string sniff_host;
  uint64_t upload = 0;
  uint64_t download = 0;
  std::string start;
  std::vector<std::string> chains;
  std::string rule;
  std::string rule_payload;
  bool operator==(const CoreConnection&) const = default;
};

/// What one proxy core's controller told us. Never holds the core's secret:
/// it is read at run time and only sent in the request header.
struct CoreControllerInfo {
  uint32_t pid = 0;
  std::string process_name;
  std::optional<std::string> config_path;
  std::vector<std::string> config_lines;  // in memory only; never written out
  std::optional<std::string> controller_text;
  // The unix socket the core serves its controller on, as it named it.
  std::optional<std::string> unix_controller;
  // `external-controller: ""`: the TCP controller is off on purpose.
  bool tcp_controller_off = false;
  bool has_secret = false;
  std::optional<std::string> find_process_mode;
  std::optional<std::string> tun_stack;
  // The TUN device the running core reports (/configs), which outweighs what
  // a file says: a GUI may write another configuration than the one read.
  std::optional<std::string> runtime_tun_device;
  std::vector<ProxyEntry> proxies;
  std::vector<std::string> endpoint_candidates;
  std::vector<ControllerEndpointResult> endpoint_results;
  std::vector<std::string> skipped_endpoints;  // not on this host: never queried
  std::optional<std::string> selected_controller;
  std::string version;
  std::vector<CoreConnection> connections;
};

/// One examined local listening endpoint with its evidence.
struct ListenerCandidate {
  std::string host;
  uint16_t port = 0;
  uint32_t pid = 0;
  std::string process_name;
  std::string exe_path;
  std::string command_line;
  int64_t probe_priority = 0;
  uint32_t remote_established = 0;
  uint32_t live_local_clients = 0;
  bool known_identity = false;
  bool generic_identity = false;
  bool common_app = false;
  bool common_port = false;
  bool policy_reference = false;
  std::vector<std::string> policy_sources;
};

struct ProxyCandidateAssessment {
  std::string host;
  uint16_t port = 0;
  uint32_t pid = 0;
  std::string process_name;
  uint32_t remote_established = 0;
  uint32_t live_local_clients = 0;
  double score = 0;
  CandidateLevel level = CandidateLevel::kInventory;
  std::string signals;  // phrases joined with " + "
  bool common_app = false;
  bool is_candidate = false;
  ProxyProtocol protocol = ProxyProtocol::kNone;
  std::string connect_verdict;
  bool probed = false;
  bool eligible = false;
};

struct ProxyCandidates {
  std::vector<ProxyCandidateAssessment> assessments;  // by pid, then port
  std::vector<ProxyCandidateAssessment> candidates;   // level kCandidate
};

struct InterceptionAssessment {
  double score = 0;
  InterceptionLevel level = InterceptionLevel::kNone;
  double confidence = 0.2;
  // Decided from the facts before anything is drawn (decide_interception):
  // whether explicit proxy settings explain the evidence, and so the level
  // the report, the findings and the JSON show.
  ExplicitPolicy explicit_policy = ExplicitPolicy::kNoLocalListener;
  InterceptionLevel effective = InterceptionLevel::kNone;
  std::vector<std::string> signals;
  std::vector<ProxyCandidateAssessment> protocol_proxy_listeners;
  std::vector<uint32_t> protocol_proxy_processes;
  std::vector<uint32_t> proxy_like_processes;
};

/// A carrier adapter that holds a default route (physical candidate).
struct PhysicalCandidate {
  uint32_t if_index = 0;
  std::string adapter;
  std::string gateway;
  std::string dns;  // joined with ", "
  uint16_t family = kFamilyV4;
  auto operator<=>(const PhysicalCandidate&) const = default;
};

// ---- the record -----------------------------------------------------------

struct Facts {
  std::string hostname;
  std::string os_name;
  std::string collected_at;
  std::vector<Adapter> adapters;
  // The resolvers a local stub (systemd-resolved's 127.0.0.53) forwards to,
  // when /etc/resolv.conf names that stub; empty otherwise.
  std::vector<std::string> upstream_dns_servers;
  std::vector<RouteEntry> routes;
  std::vector<PolicyRule> policy_rules;  // IPv4 then IPv6, each by priority
  std::map<std::string, DeviceRecord> devices_by_mac;
  std::map<uint32_t, AdapterAssessment> assessments_by_index;
  std::optional<RouteLookup> egress_v4;
  std::optional<RouteLookup> egress_v6;
  std::optional<Adapter> egress_v4_adapter;
  std::optional<RouteEntry> default_route_v4;
  std::optional<RouteEntry> default_route_v6;
  std::optional<std::string> default_gateway_v4;
  std::optional<std::string> default_gateway_v6;
  std::vector<SocketEntry> tcp_sockets;
  std::vector<SocketEntry> udp_sockets;
  std::vector<SocketEntry> tcp_listeners;
  std::set<std::string> local_addresses;
  std::set<std::string> local_names;
  std::map<uint32_t, ProcessInfo> processes_by_pid;
  std::vector<ProcessInfo> proxy_processes;
  std::vector<ServiceEntry> driver_hits;
  std::vector<ServiceEntry> service_hits;
  ProxySettings proxy_settings;
  RouteSourceProbe route_source;
  ProxyCandidates proxy_candidates;
  std::vector<CoreControllerInfo> core_infos;
  std::vector<GatewayProbe> gateway_probes;
  InternetProbes internet_probes;
  CampusProbes campus_probes;
  // Each campus host's own route: split tunnelling sends campus traffic
  // past the default egress.
  std::map<std::string, RouteLookup> campus_routes;
  // The route of every resolver probed (configured, upstream and per-link).
  std::map<std::string, RouteLookup> resolver_routes;
  std::vector<AdapterAssessment> adapter_assessments;
  InterceptionAssessment interception;
  std::vector<PhysicalCandidate> physical_candidates;
  std::optional<std::string> physical_gateway_v4;
  std::optional<std::string> physical_gateway_v6;
};

}  // namespace corvale
