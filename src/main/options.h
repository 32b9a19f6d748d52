// The command line: what it accepts, its usage text, and the checks made
// before anything is sent on the network.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/findings.h"

namespace corvale {

/// Exit statuses of the run (signals end it with 128 + the signal's number).
enum ExitStatus : int {
  /// The run went through, also when the report could not be written.
  kExitOk = 0,
  /// A finding at the --fail-on level or worse exists.
  kExitFindings = 1,
  /// The command line was refused before anything was sent.
  kExitUsage = 2,
  /// Standard output could not be written (a full disk, a closed pipe's end).
  kExitOutput = 3,
};

/// The --json value that sends the document to standard output.
inline constexpr std::string_view kStdoutPath = "-";

enum class ColorMode { kAuto, kAlways, kNever };

struct Options {
  bool help = false;
  bool version = false;
  bool no_progress = false;
  std::optional<std::string> json_path;
  std::optional<std::string> prometheus_path;
  /// A file, or a directory that gets the dated report name.
  std::optional<std::string> report_path;
  bool no_report = false;
  ColorMode color = ColorMode::kAuto;
  /// The least severe finding that makes the run exit with kExitFindings.
  std::optional<Severity> fail_on;
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
/// The same checks for --report, where an existing writable directory is
/// also fine: the report gets its dated name inside it.
std::optional<std::string> report_path_problem(const std::string& path);

/// Whether the summary is coloured: --color=always and never decide alone;
/// auto colours a terminal unless NO_COLOR is set to a non-empty value or the
/// terminal is dumb.
bool colour_wanted(ColorMode mode, bool is_terminal, std::string_view no_color,
                   std::string_view term);

/// Whether `findings` hold one as severe as `fail_on` or worse.
bool fails_on(const std::optional<Severity>& fail_on, const std::vector<Finding>& findings);

/// The same check for the --prometheus file, which is replaced by a rename:
/// only its directory has to be writable.
std::optional<std::string> prometheus_path_problem(const std::string& path);

/// The error line printed for a refused command line.
std::string usage_error_line(const std::string& error);

std::string usage_text();

}  // namespace corvale
