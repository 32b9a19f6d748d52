#pragma once

#include <optional>
#include <string_view>

namespace corvale {

/// Worker threads for a batch of blocking probes: twice the usable
/// processors, clamped to 4..24; 8 when the count is unknown.
unsigned worker_count();

/// The rule behind worker_count, from what the system reports: the affinity
/// mask's processor count, the online count, and the cgroup quota in processors.
unsigned worker_count_from(std::optional<unsigned> affinity, std::optional<unsigned> online,
                           std::optional<double> cgroup_quota);

/// Processors allowed by a cgroup v2 "cpu.max" text ("max 100000", "150000 100000").
std::optional<double> parse_cpu_max(std::string_view text);

}  // namespace corvale
