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
#include "facts/findings.h"
#include "facts/interception.h"
#include "main/summary.h"
#include "parallel/pmap.h"
#include "parallel/progress.h"
#include "probe/campus.h"
#include "probe/probe.h"
#include "report/payload.h"
#include "report/report.h"
#include "stages/collect.h"
#include "util/clock.h"
#include "util/command.h"
#include "util/fd.h"
#include "util/text.h"
#include "util/version.h"

namespace corvale {
namespace {

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
  std::vector<std::string> list = prewarm_resolvers(facts.adapters);
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

std::string numbered_path(const std::string& path, int n) {
  std::string_view ext = ".html";
  if (path.ends_with(ext))
    return fmt::format("{}-{}{}", path.substr(0, path.size() - ext.size()), n, ext);
  return fmt::format("{}-{}", path, n);
}

ReportWrite write_report_file(const std::string& path, std::string_view text) {
  // Two runs in the same second share a stamp; the later one takes the next
  // free number instead of replacing the earlier report.
  constexpr int kMaxNumber = 1000;
  for (int n = 1; n <= kMaxNumber; ++n) {
    std::string candidate = n == 1 ? path : numbered_path(path, n);
    UniqueFd fd(
        ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.valid()) {
      if (errno == EEXIST) continue;
      return {candidate, std::string(std::strerror(errno))};
    }
    auto err = write_all(fd.get(), "\xEF\xBB\xBF");
    if (!err) err = write_all(fd.get(), text);
    if (!err && ::close(fd.release()) != 0) err = std::string(std::strerror(errno));
    return {candidate, err};
  }
  return {path, fmt::format("{} and {} numbered names are taken", path, kMaxNumber - 1)};
}

int run(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    if (!is_valid_utf8(argv[i])) {
      std::fputs(usage_error_line(fmt::format("argument {} is not valid UTF-8", i)).c_str(),
                 stderr);
      return kExitUsage;
    }
    args.emplace_back(argv[i]);
  }
  Options opts = parse_options(args);
  // A refused command line is answered before anything is sent on the network.
  if (!opts.error && opts.json_path && !opts.help && !opts.version)
    opts.error = json_path_problem(*opts.json_path);
  if (opts.error) {
    std::fputs(usage_error_line(*opts.error).c_str(), stderr);
    return kExitUsage;
  }
  if (opts.help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (opts.version) {
    std::fputs(fmt::format("corvale {}\n", kVersion).c_str(), stdout);
    return 0;
  }

  progress_init(decide_progress(args, env_text, ::isatty(2) == 1));
  // The collect stage's own pings and DNS queries seed the caches, so that
  // no host is probed twice and every output shows the same result for it.
  StageProbes stage_probes;
  Facts facts = collect_facts(stage_probes);
  progress_tick("building topology");
  // The wireless-interface text of another platform; on Linux it is empty.
  (void)run_command_text("netsh", {"wlan", "show", "interfaces"});

  PingCache pings(stage_probes.pings.begin(), stage_probes.pings.end());
  DnsCache dns(stage_probes.dns.begin(), stage_probes.dns.end());
  prewarm(facts, pings, dns);

  // Whether explicit proxy settings explain the interception evidence is
  // decided from the facts before anything is drawn or diagnosed.
  decide_interception(facts);
  GraphBuildResult built = build_graph(facts, pings, dns);
  // What is wrong, in words: the same findings go to the report, the console
  // and the JSON.
  std::vector<Finding> findings = diagnose(facts, ResolverResults(dns.begin(), dns.end()));
  timing_mark("graph-build");
  // Not a timing mark: how many lookups the caches could not answer.
  if (env_text("CORVALE_TIMING"))
    std::fprintf(stderr, "  [cache] graph-build cache misses: ping %zu, dns %zu\n",
                 built.ping_misses, built.dns_misses);
  progress_tick("rendering report");
  std::string report = render_report(facts, built.graph, pings, kVersion, findings);
  timing_mark("render-doc");

  progress_finish();
  print_summary(facts, dns, findings);

  if (opts.json_path) {
    // The graph goes in as the very object the report embeds, so scripts
    // can read it without parsing HTML.
    std::string json =
        json_with_graph(facts_to_json(facts, findings), graph_payload_json(built.graph));
    if (auto err = write_file(*opts.json_path, "", json))
      std::fprintf(stderr, "corvale: failed to write %s: %s\n", opts.json_path->c_str(),
                   err->c_str());
  }

  auto cwd = cwd_text();
  std::string path = report_path(cwd, report_stamp(local_time_now("%Y%m%d-%H%M%S")));
  ReportWrite written = write_report_file(path, report);
  std::string line;
  if (written.error) {
    line = fmt::format("\n  failed to write report: {}\n", *written.error);
  } else {
    line = fmt::format("\n  HTML report -> {}\n", written.path);
  }
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
  open_report(written.path);
  return 0;
}

}  // namespace corvale
