// The operations that grow a TopologyGraph while keeping its invariants:
// unique node ids, unique row ids per node, one edge per key, no self-edge
// and no edge with an empty end.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "graph/graph.h"

namespace corvale {

/// One step of the tunnel capture trace.
struct HopRecord {
  std::string from, from_item, to, kind, evidence;
  int64_t depth = 0;
  std::string origin;  // id of the entity the hop was found on
  double confidence = 0;
};

class GraphBuilder {
 public:
  explicit GraphBuilder(GraphLimits limits = {}) : limits_(limits) {}

  /// Appends a node unless the id exists (the first insertion wins). Returns the id.
  std::string add_node(const std::string& id, const std::string& label, const std::string& sub,
                       const std::string& kind, const std::string& status, bool sel = false,
                       std::vector<NodeItem> items = {});
  /// Ignored for an empty end or a self-edge; a stored edge with the same key
  /// is replaced wholly only by a strictly higher confidence.
  void add_edge(const std::string& from, const std::string& from_item, const std::string& to,
                double confidence, const std::string& kind, const std::string& evidence,
                bool bad = false);
  /// Appends unless the node is missing or already has a row with this id.
  void add_item(const std::string& node_id, NodeItem item);
  /// Replaces the row with the same id, or appends it; nothing for a missing node.
  void put_item(const std::string& node_id, NodeItem item);
  /// Records a hop up to depth maxDepth and while fewer than maxNodes hops
  /// exist; duplicates (same from, row and target) are dropped.
  bool record_hop(HopRecord hop);

  static NodeItem make_item(std::string id, std::string k, std::string v, std::string status = "",
                            std::string meta = "", std::string role = "prop");
  /// "OK" from 0.8, "WARN" from 0.5, empty below.
  static std::string status_of(double confidence);
  /// Rounded to two decimals; NaN becomes 0 and the value is held within 0..1.
  static double clamp_confidence(double confidence);

  bool has_node(const std::string& id) const { return node_index_.contains(id); }
  /// The node for setting its optional fields; null when missing.
  GraphNode* node(const std::string& id);
  const GraphEdge* edge(const std::string& from, const std::string& from_item,
                        const std::string& to) const;
  bool has_item(const std::string& node_id, const std::string& item_id) const;

  size_t node_count() const { return nodes_.size(); }
  const std::vector<GraphNode>& nodes() const { return nodes_; }
  const std::vector<GraphEdge>& edges() const { return edges_; }
  const std::vector<HopRecord>& hops() const { return hops_; }
  const GraphLimits& limits() const { return limits_; }

  /// Moves nodes and edges, in insertion order, into `graph`.
  void finish_into(TopologyGraph& graph);

 private:
  std::vector<GraphNode> nodes_;
  std::unordered_map<std::string, size_t> node_index_;
  std::vector<std::unordered_map<std::string, size_t>> row_index_;  // per node
  std::vector<GraphEdge> edges_;
  std::unordered_map<std::string, size_t> edge_index_;
  std::vector<HopRecord> hops_;
  std::unordered_set<std::string> hop_keys_;
  GraphLimits limits_;
};

}  // namespace corvale
