#include "main/driver.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <variant>

#include "facts/adapter_assessment.h"
#include "facts/facts_json.h"
#include "facts/findings.h"
#include "facts/interception.h"
#include "graph/graph.h"
#include "main/interrupt.h"
#include "main/language.h"
#include "main/output_file.h"
#include "parallel/pmap.h"
#include "parallel/progress.h"
#include "probe/campus.h"
#include "probe/probe.h"
#include "report/console.h"
#include "report/payload.h"
#include "report/prometheus.h"
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
  output_started(path);
  auto err = write_all(fd.get(), prefix);
  if (!err) err = write_all(fd.get(), text);
  if (!err && ::close(fd.release()) != 0) err = std::string(std::strerror(errno));
  output_finished(path);
  return err;
}

// The summary's stream: standard output, or standard error when standard
// output carries the JSON document. The first write error is kept.
struct Console {
  int fd = 1;
  std::optional<std::string> error;
  void put(std::string_view text) {
    if (!error) error = write_all(fd, text);
  }
};

// Where the report goes: --report names a file or a directory; otherwise
// the dated name in the working directory.
ReportWrite write_report(const Options& opts, std::string_view report) {
  std::string stamp = report_stamp(local_time_now("%Y%m%d-%H%M%S"));
  if (!opts.report_path) return write_report_file(report_path(cwd_text(), stamp), report);
  std::error_code ec;
  if (std::filesystem::is_directory(*opts.report_path, ec))
    return write_report_file(report_path(*opts.report_path, stamp), report);
  return {*opts.report_path, write_file(*opts.report_path, "\xEF\xBB\xBF", report)};
}

// Probes every gateway, fixed host and resolver the collect stage left out.
void prewarm(const Facts& facts, ProbeResults& probes) {
  timing_mark("collect");
  timing_mark("prewarm-ping-start");
  auto hosts = ping_host_list(facts, probes);
  auto ping_results = pmap(hosts, "ping cache", [](const std::string& h) { return ping_probe(h); });
  for (size_t i = 0; i < hosts.size(); ++i) probes.pings.emplace(hosts[i], ping_results[i]);
  timing_mark("prewarm-ping");
  auto resolvers = resolver_list(facts, probes);
  auto dns_results = pmap(resolvers, "DNS cache",
                          [](const std::string& r) { return dns_probe(r, kPrewarmDnsTimeoutMs); });
  for (size_t i = 0; i < resolvers.size(); ++i) probes.dns.emplace(resolvers[i], dns_results[i]);
  timing_mark("prewarm-done");
}

// The graph itself does no I/O: a host or resolver the probe results miss is
// probed through these, the same probes the pre-warm ran.
GraphHooks live_graph_hooks(const Environment& env) {
  GraphHooks hooks(env);
  hooks.ping = [](const std::string& host) { return ping_probe(host); };
  hooks.dns = [](const std::string& r, uint64_t timeout_ms) { return dns_probe(r, timeout_ms); };
  return hooks;
}

// A summary nobody could read must not pass for a successful run.
bool report_console_error(const std::optional<std::string>& error) {
  if (!error) return false;
  std::fprintf(stderr, "corvale: write error: %s\n", error->c_str());
  return true;
}

void open_report(const std::string& path, const Environment& env) {
  if (env.get("CORVALE_NO_OPEN")) return;
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

std::vector<std::string> ping_host_list(const Facts& facts, const ProbeResults& known) {
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
  std::erase_if(hosts, [&](const std::string& h) { return known.pings.contains(h); });
  return hosts;
}

std::vector<std::string> resolver_list(const Facts& facts, const ProbeResults& known) {
  std::vector<std::string> list = prewarm_resolvers(facts.adapters, facts.upstream_dns_servers);
  std::erase_if(list, [&](const std::string& r) { return known.dns.contains(r); });
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
    output_started(candidate);
    auto err = write_all(fd.get(), "\xEF\xBB\xBF");
    if (!err) err = write_all(fd.get(), text);
    if (!err && ::close(fd.release()) != 0) err = std::string(std::strerror(errno));
    output_finished(candidate);
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
  if (!opts.error && !opts.help && !opts.version) {
    if (opts.json_path) opts.error = json_path_problem(*opts.json_path);
    if (!opts.error && opts.report_path) opts.error = report_path_problem(*opts.report_path);
    if (!opts.error && opts.prometheus_path)
      opts.error = prometheus_path_problem(*opts.prometheus_path);
  }
  if (opts.error) {
    std::fputs(usage_error_line(*opts.error).c_str(), stderr);
    return kExitUsage;
  }
  Console out;
  if (opts.help || opts.version) {
    out.put(opts.help ? usage_text() : fmt::format("corvale {}\n", kVersion));
    return report_console_error(out.error) ? kExitOutput : kExitOk;
  }

  const auto started = std::chrono::steady_clock::now();
  // The findings' language, from the locale; setlocale wants no thread running yet.
  const Translate translate = user_language();
  // Before any thread or child exists, so that all of them inherit the mask.
  start_interrupt_watch();
  bool json_to_stdout = opts.json_path == kStdoutPath;
  if (json_to_stdout) out.fd = 2;
  // The environment is read here once; every stage gets this snapshot.
  const Environment env = Environment::from_process();
  progress_init(decide_progress(args, env.lookup(), ::isatty(2) == 1));
  timing_init(env.get("CORVALE_TIMING").has_value());
  // The collect stage's own pings and DNS queries are the first probe
  // results, so that no host is probed twice and every output shows the
  // same result for it.
  ProbeResults probes;
  Facts facts = collect_facts(env, probes);
  progress_tick("building topology");
  // The wireless-interface text of another platform; on Linux it is empty.
  (void)run_command_text("netsh", {"wlan", "show", "interfaces"});

  prewarm(facts, probes);

  // Whether explicit proxy settings explain the interception evidence is
  // decided from the facts before anything is drawn or diagnosed.
  decide_interception(facts);
  GraphBuildResult built = build_graph(facts, probes, live_graph_hooks(env));
  // What is wrong, in words: the same findings go to the report, the console
  // and the JSON.
  std::vector<Finding> findings = diagnose(facts, probes.dns, translate);
  timing_mark("graph-build");
  // Not a timing mark: how many lookups the probe results could not answer.
  if (timing_enabled())
    std::fprintf(stderr, "  [cache] graph-build cache misses: ping %zu, dns %zu\n",
                 built.ping_misses, built.dns_misses);
  progress_tick("rendering report");
  std::string report = render_report(facts, built.graph, probes, kVersion, findings);
  timing_mark("render-doc");

  progress_finish();
  bool colour = colour_wanted(opts.color, ::isatty(out.fd) == 1, env.get("NO_COLOR").value_or(""),
                              env.get("TERM").value_or(""));
  out.put(summary_text(facts, probes, findings, colour));

  if (opts.json_path) {
    // The graph goes in as the very object the report embeds, so scripts
    // can read it without parsing HTML.
    std::string json =
        json_with_graph(facts_to_json(facts, findings), graph_payload_json(built.graph));
    if (json_to_stdout) {
      Console doc;
      doc.put(json);
      if (doc.error && !out.error) out.error = doc.error;
    } else if (auto err = write_file(*opts.json_path, "", json)) {
      std::fprintf(stderr, "corvale: failed to write %s: %s\n", opts.json_path->c_str(),
                   err->c_str());
    }
  }

  if (opts.prometheus_path) {
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    MetricsRun metrics{kVersion, took.count(),
                       std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count()};
    std::string text = render_prometheus(facts, findings, probes, metrics);
    if (auto err = replace_file(*opts.prometheus_path, text))
      std::fprintf(stderr, "corvale: failed to write %s: %s\n",
                   terminal_safe(*opts.prometheus_path).c_str(), err->c_str());
  }

  if (!opts.no_report) {
    ReportWrite written = write_report(opts, report);
    if (written.error) {
      out.put(fmt::format("\n  failed to write report: {}\n", *written.error));
    } else {
      out.put(fmt::format("\n  HTML report -> {}\n", written.path));
      open_report(written.path, env);
    }
  }
  if (report_console_error(out.error)) return kExitOutput;
  return fails_on(opts.fail_on, findings) ? kExitFindings : kExitOk;
}

}  // namespace corvale
