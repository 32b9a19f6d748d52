// Processes under /proc, and the proxy- and tunnel-like ones among them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

struct ProcessScan {
  std::map<uint32_t, ProcessInfo> processes_by_pid;
  std::vector<ProcessInfo> proxy_processes;
};

/// Every process under `proc_root` with its comm as name (exe path and command
/// line stay empty), and the proxy-like ones (name without ".exe") in pid
/// order. A process that ends while we look is left out.
ProcessScan scan_processes(const std::string& proc_root = "/proc");

/// The NUL-separated arguments of a cmdline file joined by single spaces; the
/// terminating NUL adds no trailing space.
std::string parse_cmdline(std::string_view nul_separated);

/// Name, executable path and command line of one process; absent when its comm
/// is empty or unreadable. The name is the exe's file name, or the comm for a
/// process without an executable (a kernel thread).
std::optional<ProcessInfo> read_process_info(uint32_t pid, const std::string& proc_root = "/proc");

}  // namespace corvale
