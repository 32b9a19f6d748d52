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
  EXPECT_EQ(re->replace_all("http://u:p@127.0.0.1:7890 socks5://x@h:1", "$1").value_or(""),
            "http://127.0.0.1:7890 socks5://h:1");
  // Large subjects grow the output buffer.
  std::string big(100000, 'a');
  EXPECT_EQ(Regex::compile("a")->replace_all(big, "bb").value_or("").size(), 200000u);
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

namespace corvale {
namespace {

// The JSON-member pattern credential removal once used, with a backtracking
// value run: each character of the value costs JIT stack.
constexpr const char* kBacktrackingMember =
    R"re((?i)("[A-Za-z0-9_.-]*(?:secret|token)[A-Za-z0-9_.-]*"\s*:\s*")(?:[^"\\]|\\.)*")re";

TEST(Regex, LongValueMatchesWithTheRaisedJitStack) {
  // About 1.4 KB: past the JIT's default 32 KB stack.
  std::string line = "agent --config {\"token\":\"" + std::string(1400, 'k') + "\"}";
  auto r = Regex::compile(kBacktrackingMember)->search(line);
  EXPECT_EQ(r.outcome, MatchOutcome::kMatch);
  ASSERT_TRUE(r.match);
  EXPECT_EQ(r.match->end(), line.size() - 1);
}

TEST(Regex, MatcherErrorIsNeitherMatchNorNoMatch) {
  // Far past any stack limit: the matcher gives up with an error.
  std::string line = "{\"token\":\"" + std::string(8u << 20, 'k') + "\"}";
  const auto re = Regex::compile(kBacktrackingMember);
  auto r = re->search(line);
  EXPECT_EQ(r.outcome, MatchOutcome::kError);
  EXPECT_FALSE(r.match);
  EXPECT_FALSE(re->replace_all(line, "$1***\"")) << "an error must not pass the input through";
  EXPECT_EQ(Regex::compile("x")->search("abc").outcome, MatchOutcome::kNoMatch);
  EXPECT_TRUE(Regex::compile("x")->replace_all("abc", "y"));
}

}  // namespace
}  // namespace corvale
