#include "util/ip.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

TEST(Ip, ParseIp) {
  EXPECT_TRUE(parse_ip(" 10.0.0.1 "));
  EXPECT_TRUE(parse_ip("[::1]"));
  EXPECT_TRUE(parse_ip("fe80::1%eth0"));
  EXPECT_FALSE(parse_ip("["));
  EXPECT_FALSE(parse_ip("[]"));
  EXPECT_FALSE(parse_ip(""));
  EXPECT_FALSE(parse_ip("example.host"));
  EXPECT_FALSE(parse_ip("1.2.3"));
  EXPECT_FALSE(parse_ip("256.1.1.1"));
  EXPECT_FALSE(parse_ip(std::string(5000, ':')));
  EXPECT_EQ(parse_ip("10.0.0.1")->family, 4);
  EXPECT_EQ(parse_ip("::")->family, 6);
}

TEST(Ip, NormalizeIpText) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"[::FFFF:10.0.0.1]", "10.0.0.1"},      {"FE80::1%eth0", "fe80::1"},
      {"Example.Host", "example.host"},       {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
      {" 192.168.1.5 ", "192.168.1.5"},       {"", ""},
      {"[Not An Address]", "not an address"},
  };
  for (const auto& c : cases) EXPECT_EQ(normalize_ip_text(c.in), c.out) << c.in;
}

TEST(Ip, LoopbackHost) {
  EXPECT_TRUE(is_loopback_host("localhost"));
  EXPECT_TRUE(is_loopback_host("127.8.9.10"));
  EXPECT_TRUE(is_loopback_host("::1"));
  EXPECT_TRUE(is_loopback_host("[::1]"));
  EXPECT_FALSE(is_loopback_host("::ffff:127.0.0.1"));
  EXPECT_FALSE(is_loopback_host(""));
  EXPECT_FALSE(is_loopback_host("LOCALHOST"));
  EXPECT_FALSE(is_loopback_host("0.0.0.0"));
  EXPECT_FALSE(is_loopback_host("128.0.0.1"));
}

TEST(Ip, Unspecified) {
  EXPECT_TRUE(is_unspecified_ip("0.0.0.0"));
  EXPECT_TRUE(is_unspecified_ip("[::]"));
  EXPECT_TRUE(is_unspecified_ip("0:0::0"));
  EXPECT_FALSE(is_unspecified_ip("*"));
}

}  // namespace
}  // namespace corvale
