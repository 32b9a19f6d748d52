// The numbered plain-text digest printed before the report line.
#pragma once

#include <string>
#include <string_view>

#include "facts/facts.h"
#include "facts/findings.h"
#include "graph/graph.h"

namespace corvale {

/// The summary text for `facts`; `dns` holds the driver's resolver results.
/// Section 12 lists `findings` and is left out when there are none.
/// With `colour` the status words carry terminal colours; without it the
/// text is plain.
std::string summary_text(const Facts& facts, const DnsCache& dns,
                         const std::vector<Finding>& findings = {}, bool colour = false);

/// A status word ("OK", "FAIL", "CHECK", "WARN", "PROBLEM", "WARNING") in its
/// colour: green for OK, red for failures, amber for warnings; other words
/// and `colour` false give the word unchanged.
std::string paint_status(std::string_view word, bool colour);

/// "0 bps", "100 Mbps", "1 Gbps" …
std::string format_speed(uint64_t bps);

}  // namespace corvale
