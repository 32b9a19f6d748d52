// The self-contained HTML report.
#pragma once

#include <string>

#include "facts/facts.h"
#include "graph/graph.h"

namespace corvale {

/// The whole document as one UTF-8 string; never fails.
std::string render_report(const Facts& facts, const TopologyGraph& graph,
                          const std::string& interception_level, const PingCache& pings);

}  // namespace corvale
