// Small builders for graph values in the report tests.
#pragma once

#include <string>

#include "graph/graph.h"

namespace corvale::testing {

inline GraphNode node(std::string id, std::string label, std::string sub, std::string kind) {
  GraphNode n;
  n.id = std::move(id);
  n.label = std::move(label);
  n.sub = std::move(sub);
  n.kind = std::move(kind);
  return n;
}

inline NodeItem item(std::string id, std::string k, std::string v, std::string role = "prop") {
  NodeItem i;
  i.id = std::move(id);
  i.k = std::move(k);
  i.v = std::move(v);
  i.role = std::move(role);
  return i;
}

}  // namespace corvale::testing
