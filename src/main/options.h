// The command line: what it accepts, its usage text, and the checks made
// before anything is sent on the network.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvale {

/// Exit status of a run that went through (also when the report could not be
/// written) and of a command line that was refused before the run.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;

struct Options {
  bool help = false;
  bool version = false;
  bool no_progress = false;
  std::optional<std::string> json_path;
  std::optional<std::string> prometheus_path;
  /// The first usage error, as one line without the program name.
  std::optional<std::string> error;
};

/// Reads `args` (program name first). Anything but the known options is an
/// error naming the offending argument.
Options parse_options(const std::vector<std::string>& args);

/// Why `path` cannot take the --json document, checked before the run so a
/// typo costs no probing: its directory is missing or not writable, or the
/// path is a symbolic link, a directory or another user's file. Absent when
/// the write can be attempted; the write itself stays guarded.
std::optional<std::string> json_path_problem(const std::string& path);

/// The same check for the --prometheus file, which is replaced by a rename:
/// only its directory has to be writable.
std::optional<std::string> prometheus_path_problem(const std::string& path);

/// The error line printed for a refused command line.
std::string usage_error_line(const std::string& error);

std::string usage_text();

}  // namespace corvale
