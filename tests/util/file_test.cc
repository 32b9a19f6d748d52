#include "util/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace corvale {
namespace {

class ReadFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvale-file-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    for (const char* n : {"etc/os-release", "etc", "usr-os-release", "fifo"})
      ::remove((dir_ + "/" + n).c_str());
    ::rmdir(dir_.c_str());
  }
  std::string dir_;
};

// Debian's /etc/os-release and systemd-resolved's /etc/resolv.conf are
// relative links; system files are read through them.
TEST_F(ReadFile, FollowsRelativeLinkUnlessRefused) {
  { std::ofstream(dir_ + "/usr-os-release") << "PRETTY_NAME=\"Debian GNU/Linux 12\"\n"; }
  ASSERT_EQ(::mkdir((dir_ + "/etc").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("../usr-os-release", (dir_ + "/etc/os-release").c_str()), 0);
  auto followed = read_file(dir_ + "/etc/os-release");
  ASSERT_TRUE(followed);
  EXPECT_EQ(*followed, "PRETTY_NAME=\"Debian GNU/Linux 12\"\n");
  EXPECT_FALSE(read_file(dir_ + "/etc/os-release", 4096, FinalLink::kRefuse));
  EXPECT_TRUE(read_file(dir_ + "/usr-os-release", 4096, FinalLink::kRefuse));
}

TEST_F(ReadFile, BoundedAndNeverBlocksOnAFifo) {
  { std::ofstream(dir_ + "/usr-os-release") << std::string(10000, 'x'); }
  EXPECT_EQ(read_file(dir_ + "/usr-os-release", 100)->size(), 100u);
  EXPECT_FALSE(read_file(dir_ + "/missing"));
  ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  auto fifo = read_file(dir_ + "/fifo");  // no writer: empty, not a hang
  EXPECT_EQ(fifo.value_or("?"), "");
}

}  // namespace
}  // namespace corvale
