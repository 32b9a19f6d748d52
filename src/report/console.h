// The numbered plain-text digest printed before the report line.
#pragma once

#include <string>
#include <string_view>

#include "facts/facts.h"
#include "facts/findings.h"
#include "facts/probe_results.h"
#include "util/environment.h"

namespace corvale {

/// The summary text for `facts`; the campus resolvers' lines read the DNS
/// results of `probes`.
/// Section 12 lists `findings` and is left out when there are none.
/// With `colour` the status words carry terminal colours; without it the
/// text is plain.
std::string summary_text(const Facts& facts, const ProbeResults& probes,
                         const std::vector<Finding>& findings = {}, bool colour = false);
/// Prints summary_text to standard output, coloured per summary_colour_wanted
/// with NO_COLOR and TERM from `env`.
void print_summary(const Facts& facts, const ProbeResults& probes,
                   const std::vector<Finding>& findings, const Environment& env);

/// A status word ("OK", "FAIL", "CHECK", "WARN", "PROBLEM", "WARNING") in its
/// colour: green for OK, red for failures, amber for warnings; other words
/// and `colour` false give the word unchanged.
std::string paint_status(std::string_view word, bool colour);
/// Colour only on a terminal, never with NO_COLOR set (to anything, even
/// empty) or on a dumb terminal, so piped output stays plain.
bool summary_colour_wanted(bool stdout_is_terminal, bool no_color_set, std::string_view term);

}  // namespace corvale
