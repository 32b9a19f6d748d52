#include "util/regex.h"

#include <gtest/gtest.h>

#include <thread>

namespace corvale {
namespace {

TEST(Regex, FeaturesPatternsRelyOn) {
  auto re = Regex::compile(R"((?i)(?<scheme>https?)://(?<host>[a-z.]+?)(?::(?<port>\d+))?$)");
  ASSERT_TRUE(re);
  auto m = re->find("HTTP://Example.org:8080");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->named("scheme"), "HTTP");
  EXPECT_EQ(m->named("host"), "Example.org");
  EXPECT_EQ(m->named("port"), "8080");
  auto m2 = re->find("http://a.b");
  ASSERT_TRUE(m2);
  EXPECT_FALSE(m2->named("port"));
  EXPECT_FALSE(m2->named("nosuchgroup"));
  EXPECT_TRUE(regex_is_match("(?m)^b$", "a\nb\nc"));
}

TEST(Regex, InvalidPatternsNeverMatch) {
  EXPECT_FALSE(regex_compile("(unclosed"));
  EXPECT_FALSE(regex_is_match("(unclosed", "(unclosed"));
  EXPECT_FALSE(regex_is_match("[", ""));
}

TEST(Regex, ReplaceAllWithGroupReference) {
  auto re = Regex::compile(R"((?i)((?:https?|ftp|socks(?:4a?|5)?)://)[^\s/@]+@)");
  ASSERT_TRUE(re);
  EXPECT_EQ(re->replace_all("http://u:p@127.0.0.1:7890 socks5://x@h:1", "$1"),
            "http://127.0.0.1:7890 socks5://h:1");
  // Large subjects grow the output buffer.
  std::string big(100000, 'a');
  EXPECT_EQ(Regex::compile("a")->replace_all(big, "bb").size(), 200000u);
}

TEST(Regex, FindAllAndInvalidUtf8Subjects) {
  auto re = Regex::compile(R"(\d+)");
  auto all = re->find_all("a1 b22 \xFF c333");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2].str(0), "333");
  EXPECT_EQ(Regex::compile("x*")->find_all("abc").size(), 4u);  // empty matches advance
}

TEST(Regex, SharedAcrossThreads) {
  const Regex& re = static_regex(R"(pid=(\d+))");
  std::vector<std::thread> ts;
  std::atomic<int> hits{0};
  for (int t = 0; t < 4; ++t)
    ts.emplace_back([&] {
      for (int i = 0; i < 500; ++i)
        if (re.find("users:((\"x\",pid=" + std::to_string(i) + ",fd=3))")->str(1) ==
            std::to_string(i))
          ++hits;
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(hits.load(), 2000);
}

TEST(Regex, EscapeMakesTextLiteral) {
  auto re = Regex::compile("^" + regex_escape("external-controller.(x)*") + "$");
  ASSERT_TRUE(re);
  EXPECT_TRUE(re->is_match("external-controller.(x)*"));
  EXPECT_FALSE(re->is_match("external-controllerX(x)"));
}

}  // namespace
}  // namespace corvale

namespace corvale {
namespace {

// Many matches over a large subject, with an invalid byte in it: every match
// must be found, and repeated matching must not re-scan the whole subject.
TEST(Regex, FindAllOverLargeSubject) {
  std::string s;
  for (int i = 0; i < 50000; ++i) s += "ab 12 ";
  s += "\xFF 7";
  auto all = Regex::compile(R"(\d+)")->find_all(s);
  ASSERT_EQ(all.size(), 50001u);
  EXPECT_EQ(all.back().str(0), "7");
}

}  // namespace
}  // namespace corvale
