// Texts in two languages at once: English, which --json and scripts read and
// which never changes with the locale, and the user's language, which the
// console and the report show.
#pragma once

#include <fmt/format.h>

#include <exception>
#include <functional>
#include <string>
#include <type_traits>

namespace corvale {

/// The user's-language form of an English message (its msgid); an empty
/// function, an empty answer or the msgid itself mean "stay English".
using Translate = std::function<std::string(const char* msgid)>;

/// One text in English (`text`) and in the user's language (`shown`).
struct Phrase {
  std::string text;
  std::string shown;
};

namespace phrase_detail {

template <class T>
using English =
    std::conditional_t<std::is_same_v<std::remove_cvref_t<T>, Phrase>, const std::string&, T>;

template <class T>
const T& english(const T& v) {
  return v;
}
inline const std::string& english(const Phrase& p) { return p.text; }
template <class T>
const T& shown(const T& v) {
  return v;
}
inline const std::string& shown(const Phrase& p) { return p.shown; }

}  // namespace phrase_detail

namespace phrase_detail {

// The format was checked at compile time by the caller's format_string.
template <class... Args>
Phrase localize_checked(const Translate& translate, fmt::string_view format, const Args&... args) {
  Phrase p;
  p.text = fmt::vformat(format, fmt::make_format_args(english(args)...));
  p.shown = p.text;
  if (!translate) return p;
  std::string msgid(format.data(), format.size());
  try {
    std::string translated = translate(msgid.c_str());
    if (translated.empty() || translated == msgid) return p;
    p.shown = fmt::vformat(translated, fmt::make_format_args(shown(args)...));
  } catch (const std::exception&) {
    p.shown = p.text;
  }
  return p;
}

}  // namespace phrase_detail

/// `format` filled with `args`, in English and through `translate`; a Phrase
/// argument gives each language its own form. A translation that does not
/// format with these arguments (a broken catalog) falls back to English:
/// nothing throws out of here.
template <class... Args>
Phrase localize(const Translate& translate,
                fmt::format_string<phrase_detail::English<Args>...> format, Args&&... args) {
  return phrase_detail::localize_checked(translate, format, args...);
}

}  // namespace corvale
