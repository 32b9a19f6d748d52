// The self-contained HTML report.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "facts/findings.h"
#include "facts/probe_results.h"
#include "graph/graph.h"
#include "report/chain.h"

namespace corvale {

/// The whole document as one UTF-8 string; never fails. The LAN Gateway block
/// reads the ping results of `probes`;
/// `version` is named in the footer; `findings` are listed under the chips.
std::string render_report(const Facts& facts, const TopologyGraph& graph,
                          const ProbeResults& probes, std::string_view version,
                          const std::vector<Finding>& findings = {});

/// The default egress chain of the report, numbered and hashed.
std::vector<ChainBlock> egress_chain_blocks(const Facts& facts, const ProbeResults& probes);

}  // namespace corvale
