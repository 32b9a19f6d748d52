#include "graph/builder.h"

#include <cmath>

#include "util/text.h"

namespace corvale {

namespace {

std::string edge_key(const std::string& from, const std::string& from_item, const std::string& to) {
  std::string key;
  key.reserve(from.size() + from_item.size() + to.size() + 2);
  key.append(from).append("|").append(from_item).append("|").append(to);
  return key;
}

}  // namespace

std::string GraphBuilder::add_node(const std::string& id, const std::string& label,
                                   const std::string& sub, const std::string& kind,
                                   const std::string& status, bool sel,
                                   std::vector<NodeItem> items) {
  auto [it, inserted] = node_index_.try_emplace(id, nodes_.size());
  if (!inserted) return id;
  GraphNode n;
  n.id = id;
  n.label = label;
  n.sub = sub;
  n.kind = kind;
  n.status = status;
  n.sel = sel;
  nodes_.push_back(std::move(n));
  row_index_.emplace_back();
  // Rows go through add_item so that duplicate row ids are dropped here too.
  for (auto& item : items) add_item(id, std::move(item));
  return id;
}

double GraphBuilder::clamp_confidence(double confidence) {
  // A hostile controller reply could carry anything; the payload must never
  // have to write null for a confidence.
  if (!std::isfinite(confidence)) return confidence > 0 ? 1.0 : 0.0;
  if (confidence < 0) return 0;
  if (confidence > 1) return 1;
  return round2(confidence);
}

void GraphBuilder::add_edge(const std::string& from, const std::string& from_item,
                            const std::string& to, double confidence, const std::string& kind,
                            const std::string& evidence, bool bad) {
  if (from.empty() || to.empty() || from == to) return;
  double c = clamp_confidence(confidence);
  auto [it, inserted] = edge_index_.try_emplace(edge_key(from, from_item, to), edges_.size());
  if (inserted) {
    edges_.push_back(GraphEdge{from, from_item, to, kind, false, bad, c, evidence});
    return;
  }
  GraphEdge& e = edges_[it->second];
  if (c > e.confidence) {
    e.confidence = c;
    e.kind = kind;
    e.evidence = evidence;
    e.bad = bad;
  }
}

void GraphBuilder::add_item(const std::string& node_id, NodeItem item) {
  auto it = node_index_.find(node_id);
  if (it == node_index_.end()) return;
  auto& rows = row_index_[it->second];
  auto& items = nodes_[it->second].items;
  if (!rows.try_emplace(item.id, items.size()).second) return;
  items.push_back(std::move(item));
}

void GraphBuilder::put_item(const std::string& node_id, NodeItem item) {
  auto it = node_index_.find(node_id);
  if (it == node_index_.end()) return;
  auto& rows = row_index_[it->second];
  auto& items = nodes_[it->second].items;
  auto [row, inserted] = rows.try_emplace(item.id, items.size());
  if (inserted) {
    items.push_back(std::move(item));
  } else {
    items[row->second] = std::move(item);
  }
}

bool GraphBuilder::record_hop(HopRecord hop) {
  if (hop.depth > limits_.maxDepth) return false;
  if (static_cast<int64_t>(hops_.size()) >= limits_.maxNodes) return false;
  if (!hop_keys_.insert(edge_key(hop.from, hop.from_item, hop.to)).second) return false;
  hop.confidence = clamp_confidence(hop.confidence);
  hops_.push_back(std::move(hop));
  return true;
}

NodeItem GraphBuilder::make_item(std::string id, std::string k, std::string v, std::string status,
                                 std::string meta, std::string role) {
  NodeItem item;
  item.id = std::move(id);
  item.k = std::move(k);
  item.v = std::move(v);
  item.status = std::move(status);
  item.meta = std::move(meta);
  item.role = std::move(role);
  return item;
}

std::string GraphBuilder::status_of(double confidence) {
  if (confidence >= 0.8) return "OK";
  if (confidence >= 0.5) return "WARN";
  return "";
}

GraphNode* GraphBuilder::node(const std::string& id) {
  auto it = node_index_.find(id);
  return it == node_index_.end() ? nullptr : &nodes_[it->second];
}

const GraphEdge* GraphBuilder::edge(const std::string& from, const std::string& from_item,
                                    const std::string& to) const {
  auto it = edge_index_.find(edge_key(from, from_item, to));
  return it == edge_index_.end() ? nullptr : &edges_[it->second];
}

bool GraphBuilder::has_item(const std::string& node_id, const std::string& item_id) const {
  auto it = node_index_.find(node_id);
  return it != node_index_.end() && row_index_[it->second].contains(item_id);
}

void GraphBuilder::finish_into(TopologyGraph& graph) {
  graph.limits = limits_;
  graph.nodes = std::move(nodes_);
  graph.edges = std::move(edges_);
  nodes_.clear();
  edges_.clear();
  node_index_.clear();
  row_index_.clear();
  edge_index_.clear();
}

}  // namespace corvale
