// What one run learned, as metrics in the Prometheus text exposition format,
// for node_exporter's textfile collector.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "facts/findings.h"
#include "facts/probe_results.h"

namespace corvale {

/// The run itself, measured by the driver.
struct MetricsRun {
  std::string_view version;
  double duration_seconds = 0;
  int64_t finished_unix_seconds = 0;
};

/// The whole exposition, HELP and TYPE lines first for every metric, no
/// timestamps (the textfile collector refuses them). `pings` are the
/// pre-warmed ping results by host (gateway round trips); `resolvers` the DNS
/// answers by resolver. The interception level is the effective one
/// (`interception.effective`). A label set appears at most once per metric.
/// Never fails.
std::string render_prometheus(const Facts& facts, const std::vector<Finding>& findings,
                              const ProbeResults& probes, const MetricsRun& run);

/// A label value as the format wants it: credentials removed, invalid UTF-8
/// replaced, backslash, double quote and line feed escaped.
std::string prometheus_label_value(std::string_view raw);

}  // namespace corvale
