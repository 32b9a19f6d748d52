// The numbered plain-text digest printed before the report line.
#pragma once

#include <string>

#include "facts/facts.h"
#include "facts/findings.h"
#include "graph/graph.h"

namespace corvale {

/// The summary text for `facts`; `dns` holds the driver's resolver results.
/// Section 12 lists `findings` and is left out when there are none.
std::string summary_text(const Facts& facts, const DnsCache& dns,
                         const std::vector<Finding>& findings = {});
/// Clears the progress line, then prints summary_text to standard output.
void print_summary(const Facts& facts, const DnsCache& dns,
                   const std::vector<Finding>& findings = {});

/// "0 bps", "100 Mbps", "1 Gbps" …
std::string format_speed(uint64_t bps);

}  // namespace corvale
