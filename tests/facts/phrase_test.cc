// One sentence in English and the user's language: what a translator gives,
// and what a missing or broken translation falls back to.
#include "facts/phrase.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "facts/findings_rules.h"

namespace corvale {
namespace {

Translate catalog(std::map<std::string, std::string> entries) {
  return [entries](const char* msgid) {
    auto it = entries.find(msgid);
    return it == entries.end() ? std::string(msgid) : it->second;
  };
}

constexpr const char* kEnglish = "Gateway 10.0.0.1 (eth0) answers, but link 2 fails at 0.50.";

TEST(Localize, TranslatedUntranslatedAndBroken) {
  const std::string msgid = "Gateway {} ({}) answers, but {} {} fails at {:.2f}.";
  struct Row {
    const char* name;
    Translate translate;
    std::string shown;
  } rows[] = {
      {"no translator", {}, kEnglish},
      {"translated, the phrase in its own language",
       catalog({{msgid, "网关 {}（{}）有应答，但{} {} 在 {:.2f} 失败。"}}),
       "网关 10.0.0.1（eth0）有应答，但链路 2 在 0.50 失败。"},
      {"not in the catalog", catalog({}), kEnglish},
      {"empty translation", catalog({{msgid, ""}}), kEnglish},
      {"a placeholder too many", catalog({{msgid, "网关 {} {} {} {} {} {}"}}), kEnglish},
      {"a format the argument cannot take", catalog({{msgid, "网关 {:d} {} {} {} {}"}}), kEnglish},
      {"an unclosed brace", catalog({{msgid, "网关 {"}}), kEnglish},
      {"a translator that throws",
       [](const char*) -> std::string { throw std::runtime_error("catalog gone"); }, kEnglish},
  };
  for (const auto& row : rows) {
    Phrase p = localize(row.translate, "Gateway {} ({}) answers, but {} {} fails at {:.2f}.",
                        "10.0.0.1", std::string("eth0"), Phrase{"link", "链路"}, 2, 0.5);
    EXPECT_EQ(p.text, kEnglish) << row.name;
    EXPECT_EQ(p.shown, row.shown) << row.name;
  }
}

TEST(Localize, ListsInBothLanguages) {
  Facts f;
  ResolverResults r;
  diagnosis::Context c{f, r, {}, catalog({{", ", "、"}, {"{} and {}", "{} 和 {}"}})};
  std::vector<Phrase> words = {{"link", "链路"}, {"gateway", "网关"}, {"DNS", "DNS"}};
  struct Row {
    size_t count;
    std::string text, shown;
  } rows[] = {
      {0, "", ""},
      {1, "link", "链路"},
      {2, "link and gateway", "链路 和 网关"},
      {3, "link, gateway and DNS", "链路、网关 和 DNS"},
  };
  for (const auto& row : rows) {
    Phrase p =
        diagnosis::list_phrase(c, std::vector<Phrase>(words.begin(), words.begin() + row.count));
    EXPECT_EQ(p.text, row.text) << row.count;
    EXPECT_EQ(p.shown, row.shown) << row.count;
  }
}

}  // namespace
}  // namespace corvale
