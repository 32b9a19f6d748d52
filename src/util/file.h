// Bounded file reads for procfs, sysfs and configuration files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace corvale {

/// Reads at most `max_bytes` of a regular file (or a procfs/sysfs pseudo file)
/// without following a symbolic link at the last component; nothing when it
/// cannot be opened or read.
std::optional<std::string> read_file(const std::string& path, size_t max_bytes = 1u << 20);

/// Target of a symbolic link; nothing when it is not a readable link.
std::optional<std::string> read_link(const std::string& path);

}  // namespace corvale
