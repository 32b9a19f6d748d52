#include "util/text.h"

#include <gtest/gtest.h>

#include "util/html.h"

namespace corvale {
namespace {

TEST(Text, TrimAndSplit) {
  EXPECT_EQ(trim("  a b \r\n"), "a b");
  EXPECT_EQ(trim("\t\n"), "");
  auto f = split_ws("  LISTEN 0  128   *:22 \t x ");
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[2], "128");
  EXPECT_EQ(f[4], "x");
  auto l = split_lines("a\nb\r\n\nc");
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[1], "b\r");
  EXPECT_EQ(l[2], "");
  EXPECT_EQ(split("a,,b", ',').size(), 3u);
}

TEST(Text, Utf8DecodingReplacesInvalidBytes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
      {"\xC3", "\xEF\xBF\xBD"},                                  // truncated sequence
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode_utf8_lossy(c.in), c.out);
    EXPECT_TRUE(is_valid_utf8(decode_utf8_lossy(c.in)));
  }
  EXPECT_FALSE(is_valid_utf8("\xFF"));
}

TEST(Text, Round2IsHalfAwayFromZero) {
  EXPECT_DOUBLE_EQ(round2(0.125), 0.13);
  EXPECT_DOUBLE_EQ(round2(-0.125), -0.13);
  EXPECT_DOUBLE_EQ(round2(0.857), 0.86);
  EXPECT_DOUBLE_EQ(round2(17.5), 17.5);
}

TEST(Text, ParseUint) {
  EXPECT_EQ(parse_uint<uint16_t>("443"), 443);
  EXPECT_FALSE(parse_uint<uint16_t>("65536"));
  EXPECT_FALSE(parse_uint<uint16_t>("*"));
  EXPECT_FALSE(parse_uint<uint16_t>(""));
  EXPECT_FALSE(parse_uint<uint16_t>("-1"));
  EXPECT_FALSE(parse_uint<uint16_t>("12x"));
}

TEST(Html, EscapesTheFiveCharacters) {
  EXPECT_EQ(html_escape("<a href=\"x\">Tom & Jerry's</a>"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; Jerry&#39;s&lt;/a&gt;");
  EXPECT_EQ(html_escape("\xE4\xB8\xAD\xE6\x96\x87"), "\xE4\xB8\xAD\xE6\x96\x87");
}

}  // namespace
}  // namespace corvale
