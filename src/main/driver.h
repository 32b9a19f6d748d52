// The run pipeline and the driver's pure decisions.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "graph/graph.h"

namespace corvale {

/// Looks up an environment variable; absent when unset or not valid UTF-8.
using EnvLookup = std::function<std::optional<std::string>(const char*)>;

bool decide_progress(const std::vector<std::string>& args, const EnvLookup& env,
                     bool stderr_is_terminal);

/// Default gateways (link-local ones with %ifindex), then the fixed hosts,
/// without duplicates and without hosts already cached.
std::vector<std::string> ping_host_list(const Facts& facts, const PingCache& cache);
/// IPv4 name servers of adapters that are up, then the campus resolvers,
/// without duplicates and without resolvers already cached.
std::vector<std::string> resolver_list(const Facts& facts, const DnsCache& cache);

/// The stamp from the output of `date +%Y%m%d-%H%M%S`; "report" when blank.
std::string report_stamp(std::string_view date_output);
/// `cwd`/corvale-report-{stamp}.html, or the bare file name without a cwd.
std::string report_path(const std::optional<std::string>& cwd, const std::string& stamp);

/// Writes the byte-order mark and `text`. Never follows a symbolic link at
/// `path` and never truncates another user's file. Returns the error text.
std::optional<std::string> write_report_file(const std::string& path, std::string_view text);

struct Options {
  bool help = false;
  bool version = false;
  std::optional<std::string> json_path;
  std::optional<std::string> error;  // a usage error to print before exiting
};
Options parse_options(const std::vector<std::string>& args);

std::string usage_text();

/// The whole run; returns the exit status.
int run(int argc, char** argv);

}  // namespace corvale
