// The parent of a process, to tell this run's own probe children apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvale {

/// The parent pid in the text of /proc/PID/stat. The name field may hold
/// spaces and parentheses, so fields are counted after its last ')'.
std::optional<uint32_t> parse_stat_parent(std::string_view stat);

/// The parent of `pid`; nothing when the process has ended.
std::optional<uint32_t> parent_pid(uint32_t pid, const std::string& proc_root = "/proc");

}  // namespace corvale
