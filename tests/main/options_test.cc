#include "main/options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace corvale {
namespace {

TEST(Options, AcceptedCommandLines) {
  struct Case {
    std::vector<std::string> args;
    bool help, version, no_progress;
    std::optional<std::string> json;
    std::optional<std::string> prometheus = std::nullopt;
  } cases[] = {
      {{"corvale"}, false, false, false, std::nullopt},
      {{"corvale", "--prometheus", "c.prom", "--json=f.json"},
       false,
       false,
       false,
       "f.json",
       "c.prom"},
      {{"corvale", "--prometheus=/var/lib/c.prom"},
       false,
       false,
       false,
       std::nullopt,
       "/var/lib/c.prom"},
      {{"corvale", "--json", "out.json", "--no-progress"}, false, false, true, "out.json"},
      {{"corvale", "--json=f.json"}, false, false, false, "f.json"},
      {{"corvale", "--json", "./-odd.json"}, false, false, false, "./-odd.json"},
      {{"corvale", "-h"}, true, false, false, std::nullopt},
      {{"corvale", "--version", "--help"}, true, true, false, std::nullopt},
      {{"corvale", "--no-progress", "--"}, false, false, true, std::nullopt},
  };
  for (const auto& c : cases) {
    Options o = parse_options(c.args);
    SCOPED_TRACE(c.args.back());
    EXPECT_FALSE(o.error) << *o.error;
    EXPECT_EQ(o.help, c.help);
    EXPECT_EQ(o.version, c.version);
    EXPECT_EQ(o.no_progress, c.no_progress);
    EXPECT_EQ(o.json_path, c.json);
    EXPECT_EQ(o.prometheus_path, c.prometheus);
  }
}

TEST(Options, RefusedCommandLinesNameTheArgument) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"corvale", "--bogus"}, "unknown option '--bogus'"},
      {{"corvale", "-v"}, "unknown option '-v'"},
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
       {"--no-progress", "--json FILE", "  --prometheus FILE\n", "--help", "--version", "NO_COLOR"})
    EXPECT_NE(u.find(option), std::string::npos) << option;
  EXPECT_NE(u.find("  0  "), std::string::npos);
  EXPECT_NE(u.find("  2  "), std::string::npos);
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
