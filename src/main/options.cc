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

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  auto refuse = [&o](std::string why) {
    if (!o.error) o.error = std::move(why);
  };
  auto take_json = [&](const std::string& value) {
    if (o.json_path) return refuse("--json given twice");
    // A following option is almost always a forgotten file name, not a file
    // the user wants created under that name.
    if (value.empty() || value.starts_with("-")) return refuse("--json needs a file name");
    o.json_path = value;
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
    } else if (a == "--json") {
      if (i + 1 >= args.size()) {
        refuse("--json needs a file name");
      } else {
        take_json(args[++i]);
      }
    } else if (a.starts_with("--json=")) {
      take_json(a.substr(7));
    } else {
      refuse("unknown option " + quoted(a));
    }
  }
  return o;
}

std::optional<std::string> json_path_problem(const std::string& path) {
  auto problem = [&path](std::string_view what) {
    return fmt::format("--json {}: {}", quoted(path), what);
  };
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return problem("is a symbolic link; it is not followed");
    if (S_ISDIR(st.st_mode)) return problem("is a directory");
    if (!S_ISREG(st.st_mode)) return problem("is not a regular file");
    if (st.st_uid != ::geteuid()) return problem("belongs to another user");
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
      return problem(fmt::format("cannot be written ({})", std::strerror(errno)));
    return std::nullopt;
  }
  if (errno != ENOENT && errno != ENOTDIR) return problem(std::strerror(errno));
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

std::string usage_error_line(const std::string& error) {
  return fmt::format("corvale: {} (try corvale --help)\n", error);
}

std::string usage_text() {
  return "Usage: corvale [--no-progress] [--json FILE]\n"
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
