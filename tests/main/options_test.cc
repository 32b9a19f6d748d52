#include "main/options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace corvale {
namespace {

// The parsed options in one line, so each row states the whole outcome.
std::string describe(const Options& o) {
  std::string d;
  auto add = [&d](const std::string& part) { d += (d.empty() ? "" : " ") + part; };
  if (o.help) add("help");
  if (o.version) add("version");
  if (o.no_progress) add("no-progress");
  if (o.json_path) add("json=" + *o.json_path);
  if (o.prometheus_path) add("prometheus=" + *o.prometheus_path);
  if (o.report_path) add("report=" + *o.report_path);
  if (o.no_report) add("no-report");
  if (o.color == ColorMode::kAlways) add("color=always");
  if (o.color == ColorMode::kNever) add("color=never");
  if (o.fail_on) add(std::string("fail-on=") + std::string(severity_text(*o.fail_on)));
  return d;
}

TEST(Options, AcceptedCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string want;
  } cases[] = {
      {{"corvale"}, ""},
      {{"corvale", "--json", "out.json", "--no-progress"}, "no-progress json=out.json"},
      {{"corvale", "--json=f.json"}, "json=f.json"},
      {{"corvale", "--json", "./-odd.json"}, "json=./-odd.json"},
      {{"corvale", "--json", "-"}, "json=-"},
      {{"corvale", "--json=-"}, "json=-"},
      {{"corvale", "-h"}, "help"},
      {{"corvale", "-V"}, "version"},
      {{"corvale", "--version", "--help"}, "help version"},
      {{"corvale", "--no-progress", "--"}, "no-progress"},
      {{"corvale", "--report", "/tmp"}, "report=/tmp"},
      {{"corvale", "--report=r.html"}, "report=r.html"},
      {{"corvale", "--no-report"}, "no-report"},
      {{"corvale", "--color=auto"}, ""},
      {{"corvale", "--color=always"}, "color=always"},
      {{"corvale", "--color"}, "color=always"},
      {{"corvale", "--color=never"}, "color=never"},
      {{"corvale", "--fail-on=problem"}, "fail-on=PROBLEM"},
      {{"corvale", "--fail-on", "warning"}, "fail-on=WARNING"},
      {{"corvale", "--prometheus", "c.prom", "--json=f.json"}, "json=f.json prometheus=c.prom"},
      {{"corvale", "--prometheus=/var/lib/c.prom"}, "prometheus=/var/lib/c.prom"},
  };
  for (const auto& c : cases) {
    Options o = parse_options(c.args);
    SCOPED_TRACE(c.args.back());
    EXPECT_FALSE(o.error) << *o.error;
    EXPECT_EQ(describe(o), c.want);
  }
}

TEST(Options, RefusedCommandLinesNameTheArgument) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"corvale", "--bogus"}, "unknown option '--bogus'"},
      {{"corvale", "-v"}, "unknown option '-v'"},
      {{"corvale", "-V1"}, "unknown option '-V1'"},
      {{"corvale", "--no-progres"}, "unknown option '--no-progres'"},
      {{"corvale", "--no-progress=1"}, "unknown option '--no-progress=1'"},
      {{"corvale", "report.html"}, "unexpected argument 'report.html'"},
      {{"corvale", "-"}, "unexpected argument '-'"},
      {{"corvale", "--", "--help"}, "unexpected argument '--help'"},
      {{"corvale", "--json"}, "--json needs a file name"},
      {{"corvale", "--json="}, "--json needs a file name"},
      {{"corvale", "--json", "--no-progress"}, "--json needs a file name"},
      {{"corvale", "--json", "a", "--json", "b"}, "--json given twice"},
      {{"corvale", "--prometheus"}, "--prometheus needs a file name"},
      {{"corvale", "--prometheus", "--json", "f.json"}, "--prometheus needs a file name"},
      {{"corvale", "--prometheus=a", "--prometheus=b"}, "--prometheus given twice"},
      {{"corvale", "--prometheus-file=a"}, "unknown option '--prometheus-file=a'"},
      {{"corvale", "--json", "--"}, "--json needs a file name"},
      {{"corvale", "--report"}, "--report needs a file name"},
      {{"corvale", "--report", "-"}, "--report needs a file name"},
      {{"corvale", "--report=a", "--report=b"}, "--report given twice"},
      {{"corvale", "--report", "a", "--no-report"}, "--report and --no-report exclude each other"},
      {{"corvale", "--color=yes"}, "--color takes auto, always or never, not 'yes'"},
      {{"corvale", "--color", "never"}, "unexpected argument 'never'"},
      {{"corvale", "--color=never", "--color"}, "--color given twice"},
      {{"corvale", "--fail-on"}, "--fail-on takes problem or warning, not ''"},
      {{"corvale", "--fail-on=note"}, "--fail-on takes problem or warning, not 'note'"},
      {{"corvale", "--fail-on=problem", "--fail-on=warning"}, "--fail-on given twice"},
      // A pasted megabyte is echoed as its start, never whole.
      {{"corvale", "--" + std::string(100000, 'x')},
       "unknown option '--" + std::string(58, 'x') + "...'"},
      {{"corvale", "--" + std::string(55, 'x') + "\xE4\xB8\xAD\xE4\xB8\xAD"},
       "unknown option '--" + std::string(55, 'x') + "\xE4\xB8\xAD...'"},
      // The first problem is the one reported, even next to --help.
      {{"corvale", "--help", "--x", "--y"}, "unknown option '--x'"},
      // Control characters in an argument never reach the terminal raw.
      {{"corvale", "--\x1b[2Jx"}, "unknown option '--\\x1b[2Jx'"},
  };
  for (const auto& c : cases) {
    Options o = parse_options(c.args);
    ASSERT_TRUE(o.error) << c.args.back();
    EXPECT_EQ(*o.error, c.error);
  }
}

TEST(Options, ErrorLineIsOneLineWithTheHint) {
  EXPECT_EQ(usage_error_line("unknown option '--bogus'"),
            "corvale: unknown option '--bogus' (try corvale --help)\n");
}

TEST(Options, UsageTellsTheExitStatuses) {
  std::string u = usage_text();
  for (const char* option :
       {"--no-progress", "--json FILE", "--json -", "--help", "-V, --version", "NO_COLOR",
        "--color=WHEN", "--report PATH", "--no-report", "--fail-on=LEVEL",
         "  --prometheus FILE  "})
    EXPECT_NE(u.find(option), std::string::npos) << option;
  for (const char* status : {"  0  ", "  1  ", "  2  ", "  3  ", "  130, 143  "})
    EXPECT_NE(u.find(status), std::string::npos) << status;
  // It must read on an 80-column terminal without wrapping.
  size_t lines = 0;
  for (size_t at = 0; at < u.size(); ++lines) {
    size_t end = u.find('\n', at);
    EXPECT_LE(end - at, 80u) << u.substr(at, end - at);
    at = end + 1;
  }
  EXPECT_GT(lines, 20u);
}

TEST(Options, ColourWhenAskedOrOnATerminal) {
  struct Case {
    ColorMode mode;
    bool tty;
    const char* no_color;
    const char* term;
    bool want;
  } cases[] = {
      {ColorMode::kAuto, true, "", "xterm-256color", true},
      {ColorMode::kAuto, false, "", "xterm-256color", false},
      {ColorMode::kAuto, true, "1", "xterm-256color", false},
      // An empty NO_COLOR does not count (no-color.org).
      {ColorMode::kAuto, true, "", "", true},
      {ColorMode::kAuto, true, "", "dumb", false},
      {ColorMode::kAlways, false, "1", "dumb", true},
      {ColorMode::kNever, true, "", "xterm", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(colour_wanted(c.mode, c.tty, c.no_color, c.term), c.want)
        << static_cast<int>(c.mode) << c.tty << c.no_color << c.term;
}

TEST(Options, FailOnCountsTheLevelAndWorse) {
  auto finding = [](Severity s) {
    Finding f;
    f.severity = s;
    return f;
  };
  std::vector<Finding> warning_only = {finding(Severity::kNote), finding(Severity::kWarning)};
  std::vector<Finding> problem = {finding(Severity::kProblem)};
  struct Case {
    std::optional<Severity> fail_on;
    const std::vector<Finding>& findings;
    bool want;
  } cases[] = {
      {std::nullopt, problem, false},
      {Severity::kProblem, problem, true},
      {Severity::kProblem, warning_only, false},
      {Severity::kWarning, warning_only, true},
      {Severity::kWarning, problem, true},
      {Severity::kWarning, {}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(fails_on(c.fail_on, c.findings), c.want);
}

class JsonPath : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvale-options-XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override {
    ::chmod(dir_.c_str(), 0700);
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(JsonPath, UsablePaths) {
  EXPECT_EQ(json_path_problem(dir_ + "/new.json"), std::nullopt);
  { std::ofstream(dir_ + "/old.json") << "{}"; }
  EXPECT_EQ(json_path_problem(dir_ + "/old.json"), std::nullopt);
  // A bare name lands in the working directory.
  auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  EXPECT_EQ(json_path_problem("facts.json"), std::nullopt);
  std::filesystem::current_path(cwd);
}

TEST_F(JsonPath, RefusedPaths) {
  std::filesystem::create_directory(dir_ + "/sub");
  { std::ofstream(dir_ + "/file") << "x"; }
  ASSERT_EQ(::symlink((dir_ + "/file").c_str(), (dir_ + "/link.json").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "/nowhere").c_str(), (dir_ + "/dangling.json").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir_ + "/fifo.json").c_str(), 0600), 0);
  struct Case {
    std::string path;
    std::string ends_with;
  } cases[] = {
      {dir_ + "/missing/f.json", "directory '" + dir_ + "/missing' does not exist"},
      {dir_ + "/file/f.json", "'" + dir_ + "/file' is not a directory"},
      {dir_ + "/link.json", "is a symbolic link; it is not followed"},
      {dir_ + "/dangling.json", "is a symbolic link; it is not followed"},
      {dir_ + "/sub", "is a directory"},
      {dir_ + "/fifo.json", "is not a regular file"},
  };
  for (const auto& c : cases) {
    auto problem = json_path_problem(c.path);
    ASSERT_TRUE(problem) << c.path;
    EXPECT_TRUE(problem->starts_with("--json '" + c.path + "': ")) << *problem;
    EXPECT_TRUE(problem->ends_with(c.ends_with)) << *problem;
  }
}

TEST_F(JsonPath, ReportTakesAFileOrADirectory) {
  std::filesystem::create_directory(dir_ + "/sub");
  ASSERT_EQ(::symlink((dir_ + "/sub").c_str(), (dir_ + "/link").c_str()), 0);
  struct Case {
    std::string path;
    std::optional<std::string> problem;
  } cases[] = {
      {dir_, std::nullopt},
      {dir_ + "/sub", std::nullopt},
      {dir_ + "/r.html", std::nullopt},
      {dir_ + "/link", "--report '" + dir_ + "/link': is a symbolic link; it is not followed"},
      {dir_ + "/none/r.html",
       "--report '" + dir_ + "/none/r.html': directory '" + dir_ + "/none' does not exist"},
  };
  for (const auto& c : cases) EXPECT_EQ(report_path_problem(c.path), c.problem) << c.path;
  // The JSON document's "-" is standard output, never a file of that name.
  EXPECT_EQ(json_path_problem("-"), std::nullopt);
}

// The metrics file is renamed over, so a read-only one is fine, but the
// same places as for --json are refused.
TEST_F(JsonPath, PrometheusPaths) {
  std::string old = dir_ + "/old.prom";
  { std::ofstream(old) << "x 1\n"; }
  ASSERT_EQ(::chmod(old.c_str(), 0444), 0);
  ASSERT_EQ(::symlink(old.c_str(), (dir_ + "/link.prom").c_str()), 0);
  struct Case {
    std::string path;
    std::optional<std::string> problem;
  } cases[] = {
      {dir_ + "/new.prom", std::nullopt},
      {old, std::nullopt},
      {dir_ + "/link.prom", "is a symbolic link; it is not followed"},
      {dir_, "is a directory"},
      {dir_ + "/missing/c.prom", "directory '" + dir_ + "/missing' does not exist"},
  };
  for (const auto& c : cases) {
    auto problem = prometheus_path_problem(c.path);
    if (!c.problem) {
      EXPECT_EQ(problem, std::nullopt) << c.path;
      continue;
    }
    EXPECT_EQ(problem, "--prometheus '" + c.path + "': " + *c.problem);
  }
}

TEST_F(JsonPath, PermissionsAndOwnership) {
  std::string other = dir_ + "/other.json";
  { std::ofstream(other) << "{}"; }
  if (::geteuid() == 0) {
    // Root writes anywhere, so only ownership can be checked here; the lab's
    // end-to-end test covers an unwritable directory as an ordinary user.
    ASSERT_EQ(::chown(other.c_str(), 65534, 65534), 0);
    EXPECT_EQ(json_path_problem(other), "--json '" + other + "': belongs to another user");
    return;
  }
  ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
  EXPECT_EQ(json_path_problem(dir_ + "/new.json"),
            "--json '" + dir_ + "/new.json': directory '" + dir_ + "' is not writable");
}

}  // namespace
}  // namespace corvale
