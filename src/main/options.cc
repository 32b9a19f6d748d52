#include "main/options.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/text.h"

namespace corvale {
namespace {

// Longest argument text echoed back: a pasted 100 KB argument is not
// worth a screenful of error message.
constexpr size_t kMaxEcho = 60;

// Arguments come from the user's shell but may hold escape sequences; they
// are quoted visibly rather than replayed to the terminal, and cut short.
std::string quoted(const std::string& arg) {
  std::string safe = terminal_safe(arg);
  if (safe.size() > kMaxEcho) {
    size_t cut = kMaxEcho;
    while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80) --cut;
    safe.resize(cut);
    safe += "...";
  }
  return "'" + safe + "'";
}

// "--name VALUE" or "--name=VALUE": the value, stepping `i` past a separate
// one; absent when args[i] is another option. A missing value is "".
std::optional<std::string> option_value(const std::vector<std::string>& args, size_t& i,
                                        std::string_view name) {
  const std::string& a = args[i];
  if (a == name) return i + 1 < args.size() ? args[++i] : std::string();
  if (a.size() > name.size() && a.starts_with(name) && a[name.size()] == '=')
    return a.substr(name.size() + 1);
  return std::nullopt;
}

std::optional<ColorMode> color_mode(std::string_view v) {
  if (v == "auto") return ColorMode::kAuto;
  if (v == "always") return ColorMode::kAlways;
  if (v == "never") return ColorMode::kNever;
  return std::nullopt;
}

std::optional<Severity> fail_level(std::string_view v) {
  if (v == "problem") return Severity::kProblem;
  if (v == "warning") return Severity::kWarning;
  return std::nullopt;
}

std::string parent_directory(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  auto refuse = [&o](std::string why) {
    if (!o.error) o.error = std::move(why);
  };
  // A following option is almost always a forgotten file name, not a file
  // the user wants created under that name; "-" alone means standard output.
  auto take_path = [&](std::optional<std::string>& slot, std::string_view name,
                       const std::string& value, bool dash_ok) {
    if (slot) return refuse(fmt::format("{} given twice", name));
    if (value.empty() || (value.starts_with("-") && !(dash_ok && value == kStdoutPath)))
      return refuse(fmt::format("{} needs a file name", name));
    slot = value;
  };
  bool options_ended = false;
  bool color_given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_ended || !a.starts_with("-") || a == "-") {
      refuse("unexpected argument " + quoted(a));
    } else if (a == "--") {
      options_ended = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version" || a == "-V") {
      o.version = true;
    } else if (a == "--no-progress") {
      o.no_progress = true;
    } else if (a == "--no-report") {
      o.no_report = true;
    } else if (auto v = option_value(args, i, "--json")) {
      take_path(o.json_path, "--json", *v, true);
    } else if (auto v = option_value(args, i, "--prometheus")) {
      take_path(o.prometheus_path, "--prometheus", *v, false);
    } else if (auto v = option_value(args, i, "--report")) {
      take_path(o.report_path, "--report", *v, false);
    } else if (a == "--color" || a.starts_with("--color=")) {
      // A bare --color means always, as with ls and grep.
      auto mode = a == "--color" ? ColorMode::kAlways : color_mode(a.substr(8));
      if (color_given) refuse("--color given twice");
      if (!mode) refuse("--color takes auto, always or never, not " + quoted(a.substr(8)));
      color_given = true;
      if (mode) o.color = *mode;
    } else if (auto v = option_value(args, i, "--fail-on")) {
      auto level = fail_level(*v);
      if (o.fail_on) refuse("--fail-on given twice");
      if (!level) refuse("--fail-on takes problem or warning, not " + quoted(*v));
      if (level) o.fail_on = level;
    } else {
      refuse("unknown option " + quoted(a));
    }
  }
  if (o.report_path && o.no_report) refuse("--report and --no-report exclude each other");
  return o;
}

namespace {

// How an output file is written, which decides what may stand at its path.
enum class OutputKind {
  kInPlace,     // opened and written: an existing file must be writable
  kOrDirectory, // as kInPlace, or an existing directory that gets a new file
  kReplaced,    // renamed over: its own write permission does not matter
};

// Why `path` cannot take the output of `option`.
std::optional<std::string> output_path_problem(std::string_view option, const std::string& path,
                                               OutputKind kind) {
  auto problem = [&](std::string_view what) {
    return fmt::format("{} {}: {}", option, quoted(path), what);
  };
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return problem("is a symbolic link; it is not followed");
    if (S_ISDIR(st.st_mode) && kind == OutputKind::kOrDirectory) {
      if (::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return problem("directory is not writable");
      return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) return problem("is a directory");
    if (!S_ISREG(st.st_mode)) return problem("is not a regular file");
    if (st.st_uid != ::geteuid()) return problem("belongs to another user");
    if (kind != OutputKind::kReplaced) {
      if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        return problem(fmt::format("cannot be written ({})", std::strerror(errno)));
      return std::nullopt;
    }
    // A replaced file falls through to the directory check.
  } else if (errno != ENOENT && errno != ENOTDIR) {
    return problem(std::strerror(errno));
  }
  std::string dir = parent_directory(path);
  if (::stat(dir.c_str(), &st) != 0) {
    if (errno == ENOENT) return problem(fmt::format("directory {} does not exist", quoted(dir)));
    return problem(fmt::format("directory {}: {}", quoted(dir), std::strerror(errno)));
  }
  if (!S_ISDIR(st.st_mode)) return problem(fmt::format("{} is not a directory", quoted(dir)));
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return problem(fmt::format("directory {} is not writable", quoted(dir)));
  return std::nullopt;
}

}  // namespace

std::optional<std::string> json_path_problem(const std::string& path) {
  if (path == kStdoutPath) return std::nullopt;
  return output_path_problem("--json", path, OutputKind::kInPlace);
}

std::optional<std::string> report_path_problem(const std::string& path) {
  return output_path_problem("--report", path, OutputKind::kOrDirectory);
}

std::optional<std::string> prometheus_path_problem(const std::string& path) {
  return output_path_problem("--prometheus", path, OutputKind::kReplaced);
}

bool colour_wanted(ColorMode mode, bool is_terminal, std::string_view no_color,
                   std::string_view term) {
  if (mode != ColorMode::kAuto) return mode == ColorMode::kAlways;
  return is_terminal && no_color.empty() && term != "dumb";
}

bool fails_on(const std::optional<Severity>& fail_on, const std::vector<Finding>& findings) {
  if (!fail_on) return false;
  // Severity is ordered from the worst down.
  for (const auto& f : findings)
    if (f.severity <= *fail_on) return true;
  return false;
}

std::string usage_error_line(const std::string& error) {
  return fmt::format("corvale: {} (try corvale --help)\n", error);
}

std::string usage_text() {
  return "Usage: corvale [--no-progress] [--color=WHEN] [--json FILE|-]\n"
         "               [--prometheus FILE] [--report PATH | --no-report]\n"
         "               [--fail-on=LEVEL]\n"
         "       corvale -h | --help | -V | --version\n"
         "\n"
         "Finds out how traffic from this host leaves it: adapters and tunnels, the\n"
         "default routes, addresses and DNS servers, local proxy cores and VPN clients\n"
         "with their listening ports, and whether the gateway, the public resolvers, the\n"
         "Internet and the campus portal answer. Prints a numbered summary, writes a\n"
         "self-contained HTML report, corvale-report-YYYYMMDD-HHMMSS.html, to the current\n"
         "directory (a later report of the same second gets \"-2\", \"-3\" ...), and opens\n"
         "it in the browser.\n"
         "\n"
         "Options:\n"
         "  --no-progress      do not draw the progress line\n"
         "  --color=WHEN       colour the summary's status words: auto (on a terminal,\n"
         "                     the default), always or never\n"
         "  --json FILE        also write what the run learned as JSON to FILE (no\n"
         "                     secrets); the directory of FILE must exist and be writable\n"
         "  --json -           write the JSON to standard output; the summary then goes\n"
         "                     to standard error\n"
         "  --prometheus FILE  also write the run's metrics to FILE in the Prometheus text\n"
         "                     format, for node_exporter's textfile collector; FILE is\n"
         "                     replaced whole, its directory must exist and be writable\n"
         "  --report PATH      write the report to the file PATH, or into the directory\n"
         "                     PATH under its dated name\n"
         "  --no-report        write no report and open no browser\n"
         "  --fail-on=LEVEL    exit with status 1 when a finding of LEVEL or worse exists:\n"
         "                     problem, or warning (warnings and problems)\n"
         "  -h, --help         show this text and exit\n"
         "  -V, --version      show the version and exit\n"
         "\n"
         "Environment:\n"
         "  CORVALE_NO_PROGRESS     set (to anything) to hide the progress line\n"
         "  CORVALE_FORCE_PROGRESS  set to draw it even when stderr is not a terminal\n"
         "  CORVALE_NO_OPEN         set to not open the report in the browser\n"
         "  CORVALE_TIMING          set to print how long each step took\n"
         "  NO_COLOR                set, not empty: no colour unless --color=always\n"
         "  HTTP_PROXY HTTPS_PROXY ALL_PROXY FTP_PROXY SOCKS_PROXY\n"
         "                          proxy settings that may point at local listeners\n"
         "\n"
         "Exit status:\n"
         "  0  the run completed (also when the report could not be written)\n"
         "  1  --fail-on was given and a finding of that level or worse exists\n"
         "  2  the command line was refused; nothing was sent on the network\n"
         "  3  standard output could not be written\n"
         "  130, 143  the run was interrupted (SIGINT, SIGTERM); no partial file is left\n";
}

}  // namespace corvale
