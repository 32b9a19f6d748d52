// Nesting depth of parsed JSON, measured without recursion.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

namespace corvale {

/// Whether `v` nests at most `limit` levels. Rendering a value recurses once
/// per level, so replies from peers are checked with this before dumping.
inline bool json_depth_at_most(const nlohmann::json& v, size_t limit) {
  std::vector<std::pair<const nlohmann::json*, size_t>> todo{{&v, 1}};
  while (!todo.empty()) {
    auto [j, depth] = todo.back();
    todo.pop_back();
    if (depth > limit) return false;
    if (j->is_structured())
      for (const auto& child : *j) todo.emplace_back(&child, depth + 1);
  }
  return true;
}

}  // namespace corvale
