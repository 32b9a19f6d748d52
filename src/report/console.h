// The numbered plain-text digest printed before the report line.
#pragma once

#include <string>
#include <string_view>

#include "facts/facts.h"
#include "facts/findings.h"
#include "facts/probe_results.h"

namespace corvale {

/// The summary text for `facts`; the campus resolvers' lines read the DNS
/// results of `probes`.
/// Section 12 lists `findings` and is left out when there are none.
/// With `colour` the status words carry terminal colours; without it the
/// text is plain.
std::string summary_text(const Facts& facts, const ProbeResults& probes,
                         const std::vector<Finding>& findings = {}, bool colour = false);

/// A status word ("OK", "FAIL", "CHECK", "WARN", "PROBLEM", "WARNING") in its
/// colour: green for OK, red for failures, amber for warnings; other words
/// and `colour` false give the word unchanged.
std::string paint_status(std::string_view word, bool colour);

}  // namespace corvale
