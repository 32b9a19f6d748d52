// The numbered plain-text digest printed before the report line.
#pragma once

#include <string>

#include "facts/facts.h"
#include "graph/graph.h"

namespace corvale {

/// The summary text for `facts`; `dns` holds the driver's resolver results.
std::string summary_text(const Facts& facts, const DnsCache& dns);
/// Clears the progress line, then prints summary_text to standard output.
void print_summary(const Facts& facts, const DnsCache& dns);

/// "0 bps", "100 Mbps", "1 Gbps" …
std::string format_speed(uint64_t bps);

}  // namespace corvale
