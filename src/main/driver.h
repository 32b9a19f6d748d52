// The run pipeline and the driver's pure decisions.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "facts/probe_results.h"
#include "main/options.h"
#include "util/environment.h"

namespace corvale {

bool decide_progress(const std::vector<std::string>& args, const EnvLookup& env,
                     bool stderr_is_terminal);

/// Default gateways (link-local ones with %ifindex), then the fixed hosts,
/// without duplicates and without hosts already cached.
std::vector<std::string> ping_host_list(const Facts& facts, const ProbeResults& known);
/// IPv4 name servers of adapters that are up, then the campus resolvers,
/// without duplicates and without resolvers already cached.
std::vector<std::string> resolver_list(const Facts& facts, const ProbeResults& known);

/// The stamp from the output of `date +%Y%m%d-%H%M%S`; "report" when blank.
std::string report_stamp(std::string_view date_output);
/// `cwd`/corvale-report-{stamp}.html, or the bare file name without a cwd.
std::string report_path(const std::optional<std::string>& cwd, const std::string& stamp);

/// `path` with "-{n}" before its ".html" (or at its end without one).
std::string numbered_path(const std::string& path, int n);

struct ReportWrite {
  std::string path;                  // the file written
  std::optional<std::string> error;  // why nothing was written
};
/// Writes the byte-order mark and `text` to a new file: at `path`, or when
/// that name is taken (by an earlier report or anything else, a symbolic link
/// included) at numbered_path(path, 2), 3 … An existing file is never opened.
ReportWrite write_report_file(const std::string& path, std::string_view text);

/// The whole run; returns the exit status.
int run(int argc, char** argv);

}  // namespace corvale
