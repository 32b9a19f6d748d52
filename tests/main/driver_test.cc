#include "main/driver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace corvale {
namespace {

EnvLookup env_of(std::map<std::string, std::string> vars) {
  return [vars](const char* n) -> std::optional<std::string> {
    auto it = vars.find(n);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  };
}

TEST(ProgressDecision, Rules) {
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    bool tty;
    bool want;
  } cases[] = {
      {{"corvale"}, {}, true, true},
      {{"corvale"}, {}, false, false},
      {{"corvale", "--no-progress"}, {{"CORVALE_FORCE_PROGRESS", "1"}}, true, false},
      {{"corvale", "x", "--no-progress", "y"}, {}, true, false},
      {{"--no-progress"}, {}, true, false},  // the program name counts too
      {{"corvale", "--no-progress=1"}, {}, true, true},
      {{"corvale"}, {{"CORVALE_NO_PROGRESS", ""}}, true, false},
      {{"corvale"}, {{"CORVALE_FORCE_PROGRESS", ""}}, false, true},
      {{"corvale"}, {{"CORVALE_NO_PROGRESS", "1"}, {"CORVALE_FORCE_PROGRESS", "1"}}, false, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(decide_progress(c.args, env_of(c.env), c.tty), c.want) << c.args.back();
}

RouteEntry route(std::string dst, std::string gw, uint32_t idx, uint16_t fam) {
  RouteEntry r;
  r.destination = std::move(dst);
  r.gateway = std::move(gw);
  r.if_index = idx;
  r.family = fam;
  r.prefix_length = 0;
  return r;
}

TEST(PingHostList, GatewaysThenFixedHostsWithoutDuplicates) {
  Facts f;
  f.routes = {route("0.0.0.0", "10.0.0.55", 2, kFamilyV4),
              route("0.0.0.0", "0.0.0.0", 5, kFamilyV4),
              route("0.0.0.0", "", 5, kFamilyV4),
              route("10.0.0.0", "10.9.9.9", 2, kFamilyV4),  // not a default route
              route("::", "fe80::1", 3, kFamilyV6),
              route("::", "fe80::2%eth0", 3, kFamilyV6),
              route("::", "::", 3, kFamilyV6),
              route("0.0.0.0", "192.168.1.1", 2, kFamilyV4)};
  f.routes[3].prefix_length = 8;
  auto hosts = ping_host_list(f, {});
  std::vector<std::string> want = {"10.0.0.55",   "fe80::1%3",  "fe80::2%eth0",
                                   "192.168.1.1", "223.5.5.5",  "2400:3200::1",
                                   "10.0.0.54",   "10.0.32.32", "10.0.32.33"};
  EXPECT_EQ(hosts, want);
}

TEST(PingHostList, CachedHostsAreDropped) {
  ProbeResults known;
  known.pings["223.5.5.5"] = PingResult{true, 3};
  auto hosts = ping_host_list(Facts{}, known);
  EXPECT_EQ(hosts, (std::vector<std::string>{"2400:3200::1", "10.0.0.55", "10.0.0.54", "10.0.32.32",
                                             "10.0.32.33"}));
}

TEST(ResolverList, UpAdaptersIpv4OnlyThenCampus) {
  Facts f;
  Adapter up;
  up.is_up = true;
  up.dns_servers = {"10.0.32.33", "fe80::53", "1.1.1.1"};
  Adapter down;
  down.dns_servers = {"9.9.9.9"};
  f.adapters = {down, up, up};
  EXPECT_EQ(resolver_list(f, {}),
            (std::vector<std::string>{"10.0.32.33", "1.1.1.1", "10.0.32.32"}));
  ProbeResults known;
  known.dns["1.1.1.1"] = DnsProbeResult{};
  EXPECT_EQ(resolver_list(f, known), (std::vector<std::string>{"10.0.32.33", "10.0.32.32"}));
}

TEST(ReportName, StampAndPath) {
  EXPECT_EQ(report_stamp("20261208-101112\n"), "20261208-101112");
  EXPECT_EQ(report_stamp("  \n"), "report");
  EXPECT_EQ(report_stamp(""), "report");
  EXPECT_EQ(report_path(std::string("/home/u"), "report"), "/home/u/corvale-report-report.html");
  EXPECT_EQ(report_path(std::nullopt, "x"), "corvale-report-x.html");
}

class ReportFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvale-driver-XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
};

TEST_F(ReportFile, WritesByteOrderMarkAndText) {
  std::string p = dir_ + "/r.html";
  auto w = write_report_file(p, "<html>");
  EXPECT_FALSE(w.error);
  EXPECT_EQ(w.path, p);
  EXPECT_EQ(slurp(p), "\xEF\xBB\xBF<html>");
}

TEST_F(ReportFile, SameStampKeepsEarlierReports) {
  std::string p = dir_ + "/corvale-report-20261208-101112.html";
  for (const char* text : {"first", "second", "third"})
    EXPECT_FALSE(write_report_file(p, text).error);
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(slurp(p), bom + "first");
  EXPECT_EQ(slurp(dir_ + "/corvale-report-20261208-101112-2.html"), bom + "second");
  EXPECT_EQ(slurp(dir_ + "/corvale-report-20261208-101112-3.html"), bom + "third");
  // A gap left by a deleted report is filled before a higher number is used.
  std::filesystem::remove(dir_ + "/corvale-report-20261208-101112-2.html");
  EXPECT_EQ(write_report_file(p, "fourth").path, dir_ + "/corvale-report-20261208-101112-2.html");
}

TEST(ReportName, NumberedPath) {
  EXPECT_EQ(numbered_path("/d/corvale-report-x.html", 2), "/d/corvale-report-x-2.html");
  EXPECT_EQ(numbered_path("corvale-report-x.html", 13), "corvale-report-x-13.html");
  EXPECT_EQ(numbered_path("/d.html/report", 2), "/d.html/report-2");
}

TEST_F(ReportFile, NeverFollowsAPlantedSymlink) {
  std::string target = dir_ + "/victim";
  { std::ofstream(target) << "precious"; }
  std::string p = dir_ + "/r.html";
  ASSERT_EQ(symlink(target.c_str(), p.c_str()), 0);
  // The link's name counts as taken: the report goes to the next number.
  auto w = write_report_file(p, "report");
  EXPECT_FALSE(w.error);
  EXPECT_EQ(w.path, dir_ + "/r-2.html");
  EXPECT_EQ(slurp(target), "precious");
  // A dangling link is not followed into creating its target either.
  std::string p2 = dir_ + "/r2.html";
  ASSERT_EQ(symlink((dir_ + "/created").c_str(), p2.c_str()), 0);
  EXPECT_EQ(write_report_file(p2, "report").path, dir_ + "/r2-2.html");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/created"));
}

TEST_F(ReportFile, UnwritableDirectoryReportsError) {
  auto w = write_report_file(dir_ + "/missing/r.html", "x");
  ASSERT_TRUE(w.error);
  EXPECT_FALSE(w.error->empty());
}

TEST(Options, Parse) {
  auto o = parse_options({"corvale", "--json", "out.json", "--no-progress"});
  EXPECT_EQ(o.json_path, "out.json");
  EXPECT_FALSE(o.error);
  EXPECT_TRUE(parse_options({"corvale", "--json"}).error);
  EXPECT_EQ(parse_options({"corvale", "--json=f.json"}).json_path, "f.json");
  EXPECT_TRUE(parse_options({"corvale", "--help"}).help);
  EXPECT_TRUE(parse_options({"corvale", "--version"}).version);
  auto other = parse_options({"corvale", "--whatever"});
  EXPECT_TRUE(other.error);
  EXPECT_FALSE(other.help);
}

}  // namespace
}  // namespace corvale
