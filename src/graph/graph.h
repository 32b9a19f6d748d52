// The entity graph of how local applications reach the network. Field names
// are the keys of the serialised graph, in their serialisation order; the
// payload writer relies on both, so they do not change.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "facts/facts.h"
#include "facts/probe_results.h"
#include "util/environment.h"

namespace corvale {

struct NodeItem;

struct ItemDetail {
  std::string label, sub, kind, status;
  std::vector<NodeItem> items;
};

struct NodeItem {
  std::string id, k, v, status, meta;
  std::string role = "prop";
  bool probe = false;
  std::shared_ptr<ItemDetail> detail;  // null when absent
};

struct GraphNode {
  std::string id, label, sub, kind, status;
  bool sel = false;
  std::vector<NodeItem> items;
  std::optional<int64_t> ifIndex;
  std::optional<int64_t> layer;
  std::optional<int64_t> processId;
  std::optional<std::string> layoutLane;
};

struct GraphEdge {
  std::string from, fromItem, to, kind;
  bool dead = false;
  bool bad = false;
  double confidence = 0;  // 0..1, two decimals; never NaN
  std::string evidence;
};

struct InterceptionSummary {
  InterceptionLevel level = InterceptionLevel::kNone;
  InterceptionLevel displayLevel = InterceptionLevel::kNone;
  double score = 0;
  std::vector<std::string> signals;
  uint64_t proxyLikeListeners = 0;
  uint64_t proxyCandidateProcesses = 0;
  uint64_t protocolProxyListeners = 0;
  uint64_t protocolProxyProcesses = 0;
  uint64_t driverHits = 0;
  uint64_t serviceHits = 0;
  bool routeSourceMismatch = false;
};

struct GraphLimits {
  int64_t maxDepth = 8;
  int64_t maxNodes = 160;
  int64_t maxRepeatPerPid = 2;
};

struct TopologyGraph {
  double version = 5.2;
  std::string profile = "general-fit-flow-first-entity-compact";
  std::string evidenceModel =
      "entity-level topology; same PID+layer merged; strong-evidence proxy scoring with "
      "common-app negative prior; multi-snapshot runtime sockets/routes; adapter/PnP identity; "
      "interception corroboration";
  InterceptionSummary interception;
  uint64_t tcpSnapshots = 3;
  GraphLimits limits;
  std::vector<GraphNode> nodes;
  std::vector<GraphEdge> edges;
};

struct GraphBuildResult {
  TopologyGraph graph;
  size_t ping_misses = 0;  // hosts the probe results did not hold, probed live
  size_t dns_misses = 0;   // resolvers the probe results did not hold, probed live
};

/// What the build may do beyond reading its inputs: live probes on a miss
/// and the environment's proxy variables. Tests replace them. The graph does
/// no I/O of its own: by default a miss is counted and probes nothing, and the
/// driver hands in the real probes.
struct GraphHooks {
  /// No probes and the variables of `env`, which must outlive the hooks.
  explicit GraphHooks(const Environment& env);
  /// No probes and no environment.
  GraphHooks() = default;
  std::function<PingResult(const std::string& host)> ping;
  std::function<DnsProbeResult(const std::string& resolver, uint64_t timeout_ms)> dns;
  std::function<std::optional<std::string>(const char* name)> env;
};

/// The graph-build stage. Reads the facts and the run's probe results; a
/// lookup they cannot answer is probed live and counted in the result.
GraphBuildResult build_graph(const Facts& facts, const ProbeResults& results,
                             const GraphHooks& hooks, GraphLimits limits = {});

}  // namespace corvale
