#include "linux/processes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"
#include "util/file.h"

namespace corvale {
namespace {

using testing::TempDir;
using testing::write_file;

// A cmdline file: every argument followed by a NUL.
std::string argv_file(std::initializer_list<std::string_view> args) {
  std::string out;
  for (auto a : args) {
    out += a;
    out += '\0';
  }
  return out;
}

// A stand-in for /proc: one directory per process with comm, an exe link and
// cmdline, each optional.
class FakeProc : public ::testing::Test {
 protected:
  void add(const std::string& entry, const std::optional<std::string>& comm,
           const std::optional<std::string>& exe = std::nullopt,
           const std::optional<std::string>& cmdline = std::nullopt) {
    std::string dir = root_ / entry;
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0) << dir;
    if (comm) write_file(dir + "/comm", *comm);
    if (exe) {
      ASSERT_EQ(::symlink(exe->c_str(), (dir + "/exe").c_str()), 0);
    }
    if (cmdline) write_file(dir + "/cmdline", *cmdline);
  }
  const std::string& root() const { return root_.path(); }

  TempDir root_;
};

TEST_F(FakeProc, ScanListsProcessesAndPicksProxies) {
  add("1", "systemd\n", "/usr/lib/systemd/systemd", argv_file({"/sbin/init", "splash"}));
  add("42", "mihomo\n", "/opt/mihomo/mihomo", argv_file({"mihomo", "-d", "/etc/mihomo"}));
  add("43", "Clash-Verge\n", "/usr/bin/clash-verge");
  add("44", "clash-meta.exe\n");
  add("2", "kthreadd\n");  // kernel thread: no exe
  add("7", "sing-box");
  add("0042", "xray\n");         // not a canonical process directory
  add("4294967296", "v2ray\n");  // beyond uint32
  add("abc", "tailscaled\n");
  add("99", std::nullopt);  // ended between the listing and the read
  write_file(root_ / "77", "not a directory");
  ASSERT_EQ(::symlink("42", (root_ / "self").c_str()), 0);

  ProcessScan scan = scan_processes(root());
  std::vector<uint32_t> pids;
  for (const auto& [pid, p] : scan.processes_by_pid) {
    pids.push_back(pid);
    EXPECT_EQ(p.pid, pid);
    EXPECT_EQ(p.exe_path, "");
    EXPECT_EQ(p.command_line, "");
  }
  EXPECT_EQ(pids, (std::vector<uint32_t>{1, 2, 7, 42, 43, 44}));
  EXPECT_EQ(scan.processes_by_pid.at(1).name, "systemd");
  EXPECT_EQ(scan.processes_by_pid.at(44).name, "clash-meta.exe");

  std::vector<ProcessInfo> want = {
      {7, "sing-box", "", ""}, {42, "mihomo", "", ""}, {44, "clash-meta", "", ""}};
  EXPECT_EQ(scan.proxy_processes, want);
}

TEST_F(FakeProc, ScanOfMissingRootIsEmpty) {
  ProcessScan scan = scan_processes(root() + "/nowhere");
  EXPECT_TRUE(scan.processes_by_pid.empty());
  EXPECT_TRUE(scan.proxy_processes.empty());
  scan = scan_processes(root());
  EXPECT_TRUE(scan.processes_by_pid.empty());
}

TEST_F(FakeProc, ReadProcessInfo) {
  add("42", "mihomo\n", "/opt/mihomo/mihomo-linux-amd64",
      argv_file({"/opt/mihomo/mihomo-linux-amd64", "-d", "/etc/mihomo", "-f", "config.yaml"}));
  add("2", "kthreadd\n", std::nullopt, "");
  add("5", "\n", "/usr/bin/true");
  add("6", "deleted", "/usr/bin/old (deleted)", argv_file({"old"}));
  add("8", "bad\xff\n", "/opt/caf\xc3\xa9/bin/x\xff", argv_file({"x", "--name=\xff"}));

  auto mihomo = read_process_info(42, root());
  ASSERT_TRUE(mihomo);
  EXPECT_EQ(*mihomo, (ProcessInfo{42, "mihomo-linux-amd64", "/opt/mihomo/mihomo-linux-amd64",
                                  "/opt/mihomo/mihomo-linux-amd64 -d /etc/mihomo -f config.yaml"}));

  auto kthread = read_process_info(2, root());
  ASSERT_TRUE(kthread);
  EXPECT_EQ(*kthread, (ProcessInfo{2, "kthreadd", "", ""}));

  EXPECT_FALSE(read_process_info(5, root()));   // blank comm
  EXPECT_FALSE(read_process_info(77, root()));  // no such process

  auto deleted = read_process_info(6, root());
  ASSERT_TRUE(deleted);
  EXPECT_EQ(deleted->name, "old (deleted)");

  auto odd = read_process_info(8, root());
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->exe_path, "/opt/caf\xc3\xa9/bin/x\uFFFD");
  EXPECT_EQ(odd->name, "x\uFFFD");
  EXPECT_EQ(odd->command_line, "x --name=\uFFFD");
}

TEST_F(FakeProc, LongCommandLineIsBounded) {
  std::string arg(1000, 'a');
  std::string cmdline;
  for (int i = 0; i < 1000; ++i) cmdline += arg + std::string(1, '\0');  // about 1 MB
  add("300", "java\n", "/usr/bin/java", cmdline);
  auto p = read_process_info(300, root());
  ASSERT_TRUE(p);
  EXPECT_EQ(p->command_line.size(), 256u << 10);
  EXPECT_EQ(p->command_line.substr(0, 1002), arg + " a");
}

TEST(Cmdline, NulSeparatedArguments) {
  struct Row {
    std::string raw;
    std::string want;
  } rows[] = {
      {std::string("a\0b\0", 4), "a b"},
      {std::string("a\0\0b\0", 5), "a  b"},  // an empty argument stays visible
      {std::string("a\0b", 3), "a b"},       // rewritten by the process, no final NUL
      {std::string("\0", 1), ""},
      {"", ""},
      {"single", "single"},
      {std::string("x\0\xff\0", 4), "x \uFFFD"},
      // Blanks inside one argument: quoted, so the argument stays one value.
      {std::string("mihomo\0-secret\0first second\0", 28), "mihomo -secret \"first second\""},
      {std::string("a\0say \"hi\"\0", 11), "a 'say \"hi\"'"},
      {"sshd: alice [priv]", "sshd: alice [priv]"},  // a rewritten title stays as written
  };
  for (const auto& r : rows) EXPECT_EQ(parse_cmdline(r.raw), r.want);
}

// The scanner against the real procfs: this test process is in it.
TEST(RealProc, FindsThisProcess) {
  uint32_t self = static_cast<uint32_t>(::getpid());
  ProcessScan scan = scan_processes();
  ASSERT_TRUE(scan.processes_by_pid.count(self));
  EXPECT_EQ(scan.processes_by_pid.at(self).name, std::string("linux_tests").substr(0, 15));
  auto info = read_process_info(self);
  ASSERT_TRUE(info);
  auto exe = read_link("/proc/self/exe");
  ASSERT_TRUE(exe);
  EXPECT_EQ(info->exe_path, *exe);
  EXPECT_EQ(info->name, "linux_tests");
  EXPECT_NE(info->command_line.find("linux_tests"), std::string::npos);
}

}  // namespace
}  // namespace corvale
