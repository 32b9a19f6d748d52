#include "facts/proxy_config_text.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

TEST(ConfigComments, AreDropped) {
  EXPECT_EQ(without_comment_lines("a: 1\n  # b: 2\n;c\n//d\ne: f # g\n"), "a: 1\ne: f # g\n");
  EXPECT_EQ(without_comment_lines(""), "");
}

TEST(ConfigText, EndpointsFromHostileBytes) {
  struct Case {
    std::string raw;
    std::vector<ProxyEndpoint> want;
  };
  const std::string src = "config:/etc/clash/c.yaml";
  std::vector<Case> cases = {
      {"", {}},
      // Invalid UTF-8 and NUL bytes around an endpoint do not hide it.
      {std::string("\xff\xfe\0 127.0.0.1:1080\n", 18), {{src, "127.0.0.1", "", 1080}}},
      // Windows line ends: the commented line stays out.
      {"# 127.0.0.1:9050\r\nproxy: http://127.0.0.1:8118\r\n", {{src, "127.0.0.1", "http", 8118}}},
      // Only comments, or a line that is nothing but a comment marker.
      {"#\n;\n//\n  # http://127.0.0.1:3128", {}},
  };
  for (const auto& c : cases) {
    std::vector<ProxyEndpoint> got;
    config_text_endpoints(c.raw, "/etc/clash/c.yaml", got);
    EXPECT_EQ(got, c.want) << c.raw;
  }
}

}  // namespace
}  // namespace corvale
