#include "main/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace corvale {
namespace {

class ReplaceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvale-replace-XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string dir_;
};

// What is at the path before the write, and what the directory holds after
// it: the temporary file never stays behind, a link is replaced unfollowed.
TEST_F(ReplaceFile, WhatItReplaces) {
  struct Case {
    std::string before;  // "", "file", "link", "dir"
    bool ok;
    std::vector<std::string> after;
  } cases[] = {
      {"", true, {"c.prom"}},
      {"file", true, {"c.prom"}},
      {"link", true, {"c.prom", "target"}},
      {"dir", false, {"c.prom"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directory(dir_);
    std::string path = dir_ + "/c.prom";
    if (c.before == "file") std::ofstream(path) << "old 1\n";
    if (c.before == "link") {
      std::ofstream(dir_ + "/target") << "kept\n";
      ASSERT_EQ(::symlink((dir_ + "/target").c_str(), path.c_str()), 0);
    }
    if (c.before == "dir") std::filesystem::create_directory(path);
    auto err = replace_file(path, "new 1\n");
    EXPECT_EQ(!err, c.ok) << err.value_or("");
    EXPECT_EQ(names(), c.after);
    if (!c.ok) continue;
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(read(path), "new 1\n");
    if (c.before == "link") {
      EXPECT_EQ(read(dir_ + "/target"), "kept\n");
    }
  }
}

// A reader that opened the old file keeps reading it whole: the new text
// arrives as another file, never written into the one being read.
TEST_F(ReplaceFile, ReaderKeepsTheOldFile) {
  std::string path = dir_ + "/c.prom";
  std::ofstream(path) << "old 1\n";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(replace_file(path, "new 22\n"), std::nullopt);
  char buf[32] = {};
  ssize_t n = ::read(fd, buf, sizeof buf);
  ::close(fd);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "old 1\n");
  EXPECT_EQ(read(path), "new 22\n");
}

}  // namespace
}  // namespace corvale
