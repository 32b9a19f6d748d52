#include "main/driver.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <variant>

#include "facts/adapter_assessment.h"
#include "facts/facts_json.h"
#include "main/summary.h"
#include "parallel/pmap.h"
#include "parallel/progress.h"
#include "probe/campus.h"
#include "probe/probe.h"
#include "report/payload.h"
#include "report/report.h"
#include "stages/collect.h"
#include "util/command.h"
#include "util/fd.h"
#include "util/text.h"

#ifndef CORVALE_VERSION
#define CORVALE_VERSION "0.0.0"
#endif

namespace corvale {
namespace {

constexpr uint64_t kPrewarmDnsTimeoutMs = 1500;

void push_unique(std::vector<std::string>& list, const std::string& v) {
  for (const auto& x : list)
    if (x == v) return;
  list.push_back(v);
}

std::optional<std::string> cwd_text() {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  if (ec) return std::nullopt;
  return p.string();
}

// Writes the whole buffer, retrying interrupted writes; a zero-byte write is an error.
std::optional<std::string> write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::string(std::strerror(errno));
    if (n == 0) return std::string("write returned zero bytes");
    data.remove_prefix(static_cast<size_t>(n));
  }
  return std::nullopt;
}

// Opens `path` for writing without following a planted symbolic link and
// without truncating a file that belongs to someone else.
std::variant<UniqueFd, std::string> open_output(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (fd.valid()) return fd;
  if (errno != EEXIST) return std::string(std::strerror(errno));
  fd.reset(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    if (errno == ELOOP) return std::string("refusing to follow a symbolic link");
    return std::string(std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::string(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return std::string("not a regular file");
  if (st.st_uid != ::geteuid()) return std::string("file belongs to another user");
  if (::ftruncate(fd.get(), 0) != 0) return std::string(std::strerror(errno));
  return fd;
}

std::optional<std::string> write_file(const std::string& path, std::string_view prefix,
                                      std::string_view text) {
  auto opened = open_output(path);
  if (auto* err = std::get_if<std::string>(&opened)) return *err;
  UniqueFd fd = std::move(std::get<UniqueFd>(opened));
  if (auto e = write_all(fd.get(), prefix)) return e;
  if (auto e = write_all(fd.get(), text)) return e;
  if (::close(fd.release()) != 0) return std::string(std::strerror(errno));
  return std::nullopt;
}

void prewarm(const Facts& facts, PingCache& pings, DnsCache& dns) {
  timing_mark("collect");
  timing_mark("prewarm-ping-start");
  auto hosts = ping_host_list(facts, pings);
  auto ping_results = pmap(hosts, "ping cache", [](const std::string& h) { return ping_probe(h); });
  for (size_t i = 0; i < hosts.size(); ++i) pings.emplace(hosts[i], ping_results[i]);
  timing_mark("prewarm-ping");
  auto resolvers = resolver_list(facts, dns);
  auto dns_results = pmap(resolvers, "DNS cache",
                          [](const std::string& r) { return dns_probe(r, kPrewarmDnsTimeoutMs); });
  for (size_t i = 0; i < resolvers.size(); ++i) dns.emplace(resolvers[i], dns_results[i]);
  timing_mark("prewarm-done");
}

void open_report(const std::string& path) {
  if (env_text("CORVALE_NO_OPEN")) return;
  spawn_detached("xdg-open", {path});
}

}  // namespace

bool decide_progress(const std::vector<std::string>& args, const EnvLookup& env,
                     bool stderr_is_terminal) {
  for (const auto& a : args)
    if (a == "--no-progress") return false;
  if (env("CORVALE_NO_PROGRESS")) return false;
  if (stderr_is_terminal) return true;
  return env("CORVALE_FORCE_PROGRESS").has_value();
}

std::vector<std::string> ping_host_list(const Facts& facts, const PingCache& cache) {
  std::vector<std::string> hosts;
  for (const auto& r : facts.routes) {
    if (!is_default_route(r)) continue;
    const std::string& gw = r.gateway;
    if (gw.empty() || gw == "0.0.0.0" || gw == "::") continue;
    push_unique(hosts, pingable_gateway(r));
  }
  const CampusTargets campus;
  for (const std::string& h :
       {std::string(kInternetTargetV4), std::string(kInternetTargetV6), campus.portal_host,
        campus.api_host, campus.resolver_a, campus.resolver_b})
    push_unique(hosts, h);
  std::erase_if(hosts, [&](const std::string& h) { return cache.contains(h); });
  return hosts;
}

std::vector<std::string> resolver_list(const Facts& facts, const DnsCache& cache) {
  std::vector<std::string> list;
  for (const auto& a : facts.adapters) {
    if (!a.is_up) continue;
    for (const auto& s : a.dns_servers)
      if (s.find(':') == std::string::npos) push_unique(list, s);
  }
  const CampusTargets campus;
  push_unique(list, campus.resolver_a);
  push_unique(list, campus.resolver_b);
  std::erase_if(list, [&](const std::string& r) { return cache.contains(r); });
  return list;
}

std::string report_stamp(std::string_view date_output) {
  std::string s = trim(date_output);
  return s.empty() ? "report" : s;
}

std::string report_path(const std::optional<std::string>& cwd, const std::string& stamp) {
  std::string name = fmt::format("corvale-report-{}.html", stamp);
  if (!cwd) return name;
  return (std::filesystem::path(*cwd) / name).string();
}

std::optional<std::string> write_report_file(const std::string& path, std::string_view text) {
  return write_file(path, "\xEF\xBB\xBF", text);
}

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--json") {
      if (i + 1 >= args.size()) {
        o.error = "--json needs a file name";
      } else {
        o.json_path = args[++i];
      }
    } else if (a.starts_with("--json=")) {
      o.json_path = a.substr(7);
      if (o.json_path->empty()) o.error = "--json needs a file name";
    }
    // Anything else (including --no-progress) is left to the progress decision.
  }
  return o;
}

std::string usage_text() {
  return "Usage: corvale [--no-progress] [--json FILE]\n"
         "       corvale --help | --version\n"
         "\n"
         "Finds out how traffic from this host really leaves it: adapters and tunnels,\n"
         "the default route, addresses, DNS servers, local proxy cores and VPN clients,\n"
         "their listeners and sockets, and whether the gateway, public resolvers, the\n"
         "Internet and the campus portal answer. Prints a numbered summary and writes a\n"
         "self-contained HTML report, corvale-report-YYYYMMDD-HHMMSS.html, to the current\n"
         "directory, then opens it in the browser.\n"
         "\n"
         "Options:\n"
         "  --no-progress   do not draw the progress line\n"
         "  --json FILE     also write what the run learned as JSON to FILE (no secrets)\n"
         "  --help          show this text\n"
         "  --version       show the version\n"
         "\n"
         "Environment:\n"
         "  CORVALE_NO_PROGRESS     set (to anything) to hide the progress line\n"
         "  CORVALE_FORCE_PROGRESS  set to draw it even when stderr is not a terminal\n"
         "  CORVALE_NO_OPEN         set to not open the report in the browser\n"
         "  CORVALE_TIMING          set to print how long each step took\n"
         "  HTTP_PROXY HTTPS_PROXY ALL_PROXY FTP_PROXY SOCKS_PROXY\n"
         "                          read as proxy settings that may point at local listeners\n"
         "\n"
         "The report holds the default egress path as a chain of SHA-256 hash-linked\n"
         "blocks, detail tables, and an interactive node graph of the evidence.\n";
}

int run(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    if (!is_valid_utf8(argv[i])) {
      std::fprintf(stderr, "corvale: argument %d is not valid UTF-8\n", i);
      return 2;
    }
    args.emplace_back(argv[i]);
  }
  Options opts = parse_options(args);
  if (opts.error) {
    std::fprintf(stderr, "corvale: %s\n\n%s", opts.error->c_str(), usage_text().c_str());
    return 2;
  }
  if (opts.help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (opts.version) {
    std::printf("corvale %s\n", CORVALE_VERSION);
    return 0;
  }

  progress_init(decide_progress(args, env_text, ::isatty(2) == 1));
  Facts facts = collect_facts();
  progress_tick("building topology");
  // The wireless-interface text of another platform; on Linux it is empty.
  (void)run_command_text("netsh", {"wlan", "show", "interfaces"});

  PingCache pings;
  DnsCache dns;
  prewarm(facts, pings, dns);

  GraphBuildResult built = build_graph(facts, pings, dns);
  timing_mark("graph-build");
  progress_tick("rendering report");
  std::string report =
      render_report(facts, built.graph, built.interception_level, pings, CORVALE_VERSION);
  timing_mark("render-doc");

  progress_finish();
  print_summary(facts, dns);

  if (opts.json_path) {
    // The graph goes in as the very object the report embeds, so scripts
    // can read it without parsing HTML.
    std::string json = json_with_graph(facts_to_json(facts, built.interception_level),
                                       graph_payload_json(built.graph));
    if (auto err = write_file(*opts.json_path, "", json))
      std::fprintf(stderr, "corvale: failed to write %s: %s\n", opts.json_path->c_str(),
                   err->c_str());
  }

  auto cwd = cwd_text();
  std::string path = report_path(cwd, report_stamp(run_command_text("date", {"+%Y%m%d-%H%M%S"})));
  std::string line;
  if (auto err = write_report_file(path, report)) {
    line = fmt::format("\n  failed to write report: {}\n", *err);
  } else {
    line = fmt::format("\n  HTML report -> {}\n", path);
  }
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
  open_report(path);
  return 0;
}

}  // namespace corvale
