#include <gtest/gtest.h>

#include <regex>

#include "report/console.h"

namespace corvale {
namespace {

std::string strip_colour(const std::string& s) {
  static const std::regex sgr("\x1b\\[[0-9;]*m");
  return std::regex_replace(s, sgr, "");
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A host whose probes partly fail, with names chosen to look like status
// words: only the status columns may be coloured, never a name or a title.
Facts mixed_facts() {
  Facts f;
  Adapter eth;
  eth.name = "OK";
  eth.description = "FAIL";
  eth.if_index = 2;
  eth.is_up = true;
  f.adapters = {eth};
  f.gateway_probes = {{"192.168.50.1", 2, kFamilyV4, true}, {"fe80::1%2", 2, kFamilyV6, false}};
  f.internet_probes.v4.ok = true;
  ProcessInfo p;
  p.name = "WARN";
  p.pid = 42;
  f.proxy_processes = {p};
  f.campus_probes.portal_ok = false;
  f.campus_probes.portal_title = "OK";
  return f;
}

TEST(SummaryColour, PlainTextIsUnchangedAndColourOnlyWrapsStatusWords) {
  Facts f = mixed_facts();
  ProbeResults probes;
  probes.dns = {{"10.0.32.32", DnsProbeResult{}}};
  probes.dns["10.0.32.32"].ok = true;
  std::string plain = summary_text(f, probes);
  std::string coloured = summary_text(f, probes, {}, true);
  EXPECT_EQ(plain.find('\x1b'), std::string::npos);
  EXPECT_EQ(summary_text(f, probes, {}, false), plain);
  // Removing the colour gives back the plain text byte for byte, so the
  // columns line up exactly as in piped output.
  EXPECT_EQ(strip_colour(coloured), plain);

  // Gateway rows keep their padding outside the colour.
  EXPECT_NE(coloured.find("  192.168.50.1" + std::string(27, ' ') +
                          " \x1b[32mOK\x1b[0m     ifIndex 2    IPv4\n"),
            std::string::npos);
  EXPECT_NE(coloured.find(" \x1b[31mFAIL\x1b[0m   ifIndex 2    IPv6\n"), std::string::npos);
  EXPECT_NE(coloured.find("  223.5.5.5   IPv4 : \x1b[32mOK\x1b[0m\n"), std::string::npos);
  EXPECT_NE(coloured.find("  2400:3200::1 IPv6 : \x1b[31mFAIL\x1b[0m\n"), std::string::npos);
  EXPECT_NE(coloured.find("  Portal 10.0.0.55 HTTP : \x1b[31mFAIL\x1b[0m\n"), std::string::npos);
  EXPECT_NE(coloured.find("  DNS 10.0.32.32      \x1b[32mOK\x1b[0m\n"), std::string::npos);

  // Every status word is coloured and nothing else: 2 gateways, 2 Internet
  // probes, 4 campus hosts, portal, login, 2 resolvers and the API. The
  // adapter, process and title texts that read "OK", "FAIL", "WARN" stay plain.
  EXPECT_EQ(count(coloured, "\x1b[0m"), 13u);
  EXPECT_NE(coloured.find("title = OK\n"), std::string::npos);
  EXPECT_NE(coloured.find("  WARN "), std::string::npos);
  EXPECT_EQ(coloured.find("\x1b[33m"), std::string::npos);
}

TEST(SummaryColour, Words) {
  struct Case {
    const char* word;
    const char* want;
  } cases[] = {
      {"OK", "\x1b[32mOK\x1b[0m"},
      {"FAIL", "\x1b[31mFAIL\x1b[0m"},
      {"PROBLEM", "\x1b[31mPROBLEM\x1b[0m"},
      {"CHECK", "\x1b[33mCHECK\x1b[0m"},
      {"WARN", "\x1b[33mWARN\x1b[0m"},
      {"WARNING", "\x1b[33mWARNING\x1b[0m"},
      {"NOTE", "NOTE"},
      {"ok", "ok"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(paint_status(c.word, true), c.want);
    EXPECT_EQ(paint_status(c.word, false), c.word);
  }
}

}  // namespace
}  // namespace corvale
