// Bounded file reads for procfs, sysfs and configuration files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace corvale {

/// Whether the last component of a path may be a symbolic link.
enum class FinalLink {
  /// System files are links on ordinary desktops (/etc/os-release to
  /// ../usr/lib/os-release, /etc/resolv.conf to systemd-resolved's stub file).
  kFollow,
  /// For paths another user could plant a link at.
  kRefuse,
};

/// Reads at most `max_bytes` of a regular file (or a procfs/sysfs pseudo
/// file); nothing when it cannot be opened or read.
std::optional<std::string> read_file(const std::string& path, size_t max_bytes = 1u << 20,
                                     FinalLink links = FinalLink::kFollow);

/// Names in the open directory `dirfd` (not "." and ".."), sorted, at most
/// `max_entries` of them read; empty when it cannot be read. `dirfd` stays open.
std::vector<std::string> directory_names(int dirfd, size_t max_entries = 4096);

/// Target of a symbolic link; nothing when it is not a readable link.
std::optional<std::string> read_link(const std::string& path);

}  // namespace corvale
