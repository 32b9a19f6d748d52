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

// Arguments come from the user's shell but may hold escape sequences; they
// are quoted visibly rather than replayed to the terminal.
std::string quoted(const std::string& arg) { return "'" + terminal_safe(arg) + "'"; }

std::string parent_directory(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Why `path` cannot take the output of `option`; `replaced` files are renamed
// over, so their own write permission does not matter.
std::optional<std::string> output_path_problem(std::string_view option, const std::string& path,
                                               bool replaced) {
  auto problem = [&](std::string_view what) {
    return fmt::format("{} {}: {}", option, quoted(path), what);
  };
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return problem("is a symbolic link; it is not followed");
    if (S_ISDIR(st.st_mode)) return problem("is a directory");
    if (!S_ISREG(st.st_mode)) return problem("is not a regular file");
    if (st.st_uid != ::geteuid()) return problem("belongs to another user");
    if (replaced) {
      // Falls through to the directory check.
    } else if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
      return problem(fmt::format("cannot be written ({})", std::strerror(errno)));
    } else {
      return std::nullopt;
    }
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

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  auto refuse = [&o](std::string why) {
    if (!o.error) o.error = std::move(why);
  };
  auto take_file = [&](std::optional<std::string>& slot, const std::string& option,
                       const std::string& value) {
    if (slot) return refuse(option + " given twice");
    // A following option is almost always a forgotten file name, not a file
    // the user wants created under that name.
    if (value.empty() || value.starts_with("-")) return refuse(option + " needs a file name");
    slot = value;
  };
  // "--json FILE" and "--json=FILE" alike; false when `a` is neither.
  auto file_option = [&](std::optional<std::string>& slot, const std::string& option, size_t& i) {
    const std::string& a = args[i];
    if (a == option) {
      if (i + 1 >= args.size()) {
        refuse(option + " needs a file name");
      } else {
        take_file(slot, option, args[++i]);
      }
      return true;
    }
    if (!a.starts_with(option + "=")) return false;
    take_file(slot, option, a.substr(option.size() + 1));
    return true;
  };
  bool options_ended = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_ended || !a.starts_with("-") || a == "-") {
      refuse("unexpected argument " + quoted(a));
    } else if (a == "--") {
      options_ended = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--no-progress") {
      o.no_progress = true;
    } else if (!file_option(o.json_path, "--json", i) &&
               !file_option(o.prometheus_path, "--prometheus", i)) {
      refuse("unknown option " + quoted(a));
    }
  }
  return o;
}

std::optional<std::string> json_path_problem(const std::string& path) {
  return output_path_problem("--json", path, false);
}

std::optional<std::string> prometheus_path_problem(const std::string& path) {
  return output_path_problem("--prometheus", path, true);
}

std::string usage_error_line(const std::string& error) {
  return fmt::format("corvale: {} (try corvale --help)\n", error);
}

std::string usage_text() {
  return "Usage: corvale [--no-progress] [--json FILE] [--prometheus FILE]\n"
         "       corvale --help | --version\n"
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
         "  --no-progress   do not draw the progress line\n"
         "  --json FILE     also write what the run learned as JSON to FILE (no secrets);\n"
         "                  the directory of FILE must exist and be writable\n"
         "  --prometheus FILE\n"
         "                  also write the run's metrics to FILE in the Prometheus text\n"
         "                  format, for node_exporter's textfile collector; FILE is\n"
         "                  replaced whole, its directory must exist and be writable\n"
         "  -h, --help      show this text and exit\n"
         "  --version       show the version and exit\n"
         "\n"
         "Environment:\n"
         "  CORVALE_NO_PROGRESS     set (to anything) to hide the progress line\n"
         "  CORVALE_FORCE_PROGRESS  set to draw it even when stderr is not a terminal\n"
         "  CORVALE_NO_OPEN         set to not open the report in the browser\n"
         "  CORVALE_TIMING          set to print how long each step took\n"
         "  NO_COLOR                set to print the summary without colour on a terminal\n"
         "  HTTP_PROXY HTTPS_PROXY ALL_PROXY FTP_PROXY SOCKS_PROXY\n"
         "                          proxy settings that may point at local listeners\n"
         "\n"
         "Exit status:\n"
         "  0  the run completed (also when the report could not be written)\n"
         "  2  the command line was refused; nothing was sent on the network\n";
}

}  // namespace corvale
