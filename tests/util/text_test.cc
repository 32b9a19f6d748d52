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

namespace corvale {
namespace {

TEST(TerminalSafe, ControlsAndDirectionOverridesBecomeVisible) {
  struct Row {
    std::string in;
    std::string out;
  } rows[] = {
      {"mihomo", "mihomo"},
      {"/usr/local/bin/sing-box", "/usr/local/bin/sing-box"},
      {"xray\x1b[31m\a", "xray\\x1b[31m\\x07"},
      {"a\rb\bc\nd\te", "a\\x0db\\x08c\\x0ad\\x09e"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"del\x7f", "del\\x7f"},
      {"csi\xc2\x9b"
       "2J",
       "csi\\u009b2J"},                                        // C1 CSI
      {"evil\xe2\x80\xaegpj.exe", "evil\\u202egpj.exe"},       // right-to-left override
      {"iso\xe2\x81\xa6x\xe2\x81\xa9", "iso\\u2066x\\u2069"},  // isolates
      {"ls\xe2\x80\xa8ps", "ls\\u2028ps"},                     // line separator
      {"bad\xff\xfe", "bad\\xff\\xfe"},                        // invalid UTF-8
      {"<b>\"q\"'&", "<b>\"q\"'&"},                            // not terminal controls
      {"网络代理 ü", "网络代理 ü"},                            // ordinary Unicode stays
  };
  for (const auto& r : rows) EXPECT_EQ(terminal_safe(r.in), r.out) << r.in;
}

TEST(TerminalSafe, OutputHoldsNoControlByteWhateverTheInput) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  all += "\xe2\x80\xae\xc2\x85";
  std::string safe = terminal_safe(all + all);
  for (unsigned char c : safe) EXPECT_FALSE(c < 0x20 || c == 0x7f) << int(c);
  EXPECT_TRUE(is_valid_utf8(safe));
  EXPECT_EQ(safe.find("\xe2\x80\xae"), std::string::npos);
  EXPECT_EQ(safe.find("\xc2\x85"), std::string::npos);
}

}  // namespace
}  // namespace corvale
