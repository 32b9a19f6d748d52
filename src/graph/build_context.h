// State shared by the steps of the graph build (not part of the module's
// public interface).
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "facts/facts.h"
#include "facts/lookup.h"
#include "facts/probe_results.h"
#include "graph/attribution.h"
#include "graph/builder.h"
#include "graph/graph.h"

namespace corvale {

/// DNS probes issued by the build itself wait this long.
inline constexpr uint64_t kGraphDnsTimeoutMs = 4000;

// Layers (columns) of the drawing, left to right.
inline constexpr int64_t kLayerSource = 0;
inline constexpr int64_t kLayerTunnel = 1;
inline constexpr int64_t kLayerCore = 2;
inline constexpr int64_t kLayerCarrier = 3;
inline constexpr int64_t kLayerGateway = 4;
inline constexpr int64_t kLayerIsp = 5;
inline constexpr int64_t kLayerRemote = 6;

// Visual caps per card; the report tables keep the full inventory.
inline constexpr size_t kMaxListenerRows = 24;
inline constexpr size_t kMaxUdpRows = 16;
inline constexpr size_t kMaxContextRows = 12;
inline constexpr size_t kMaxEndpointRows = 12;
inline constexpr size_t kMaxSignalRows = 7;
inline constexpr size_t kMaxRemoteCards = 12;

/// A connection that was established when sampled, or is closing after it
/// was (TIME-WAIT, CLOSE-WAIT, FIN-WAIT-1/2, LAST-ACK, CLOSING): either way
/// traffic crossed the path. SYN-SENT and SYN-RECV prove nothing.
bool was_established(const SocketEntry& s);

struct BuildContext {
  BuildContext(const Facts& f, GraphBuilder& builder, const ProbeResults& results,
               const GraphHooks& h);
  const Facts& facts;
  GraphBuilder& b;
  const GraphHooks& hooks;
  ProbeOnMiss<PingResult> pings;
  ProbeOnMiss<DnsProbeResult> dns;
  // Cards of processes drawn as proxy cores or listener owners, by PID.
  std::map<uint32_t, std::string> process_cards;
  std::vector<OwnerCandidate> tunnel_owners;

  /// Per entry of facts.tcp_sockets: the interface owning its local address
  /// (0 when none), its remote address normalised, and whether that remote
  /// is this host. Worked out once per build; chains and process cards read it.
  struct SocketRoute {
    uint32_t if_index = 0;
    std::string remote;
    bool remote_v4 = false;
    bool remote_local = false;
  };
  const std::vector<SocketRoute>& socket_routes();
  std::optional<std::vector<SocketRoute>> socket_routes_;

  /// The run's results first; a miss probes live once per host and is counted.
  PingResult ping(const std::string& host) { return pings.get(host); }
  DnsProbeResult resolve(const std::string& resolver) { return dns.get(resolver); }

  const Adapter* adapter(uint32_t if_index) const;
  const AdapterAssessment* assessment(uint32_t if_index) const;
};

// Each step of the build, in the order the build runs them.
void add_egress_routes(BuildContext& ctx);
void add_proxy_policy(BuildContext& ctx);
void add_process_relations(BuildContext& ctx);
void add_capture_trace(BuildContext& ctx, const std::string& card, uint32_t core_pid, int64_t depth,
                       std::map<uint32_t, int64_t>& seen_on_path);
void add_interception(BuildContext& ctx);
void add_candidates(BuildContext& ctx);
void add_campus(BuildContext& ctx);

/// The chain behind one route (carrier, gateway or on-link, ISP side, remote
/// endpoints); returns the id of its first card.
std::string add_egress_chain(BuildContext& ctx, const RouteEntry& route, bool selected);
/// The tunnel card of a selected route; returns its id.
std::string add_tunnel_card(BuildContext& ctx, const RouteEntry& route);
/// "resolver · primary" / "backup N" rows with their detail cards.
void add_resolver_rows(BuildContext& ctx, const std::string& card,
                       const std::vector<std::string>& resolvers, const std::string& meta);
/// The preferred (rule, then metric) default route of an up carrier adapter of `family`.
const RouteEntry* carrier_route(const BuildContext& ctx, uint16_t family);
/// The card of a proxy core or listener owner, created once per PID.
std::string process_card(BuildContext& ctx, uint32_t pid);

std::string family_tag(uint16_t family);   // "v4" / "v6"
std::string family_text(uint16_t family);  // "IPv4" / "IPv6"
/// The process's recorded name, or "PID N" when the scan has none.
std::string process_label(const Facts& facts, uint32_t pid);

}  // namespace corvale
