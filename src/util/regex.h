// PCRE2, wrapped once: compiled patterns are shared immutable objects, every
// match call uses its own match data, so one Regex serves all threads.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvale {

/// One successful match: group 0 is the whole match; absent groups did not take part.
class RegexMatch {
 public:
  std::optional<std::string_view> group(size_t i) const;
  /// Empty text for a group that did not take part.
  std::string_view str(size_t i) const { return group(i).value_or(std::string_view{}); }
  std::optional<std::string_view> named(std::string_view name) const;
  size_t start() const { return start_; }
  size_t end() const { return end_; }

 private:
  friend class Regex;
  std::vector<std::optional<std::string_view>> groups_;
  std::shared_ptr<const std::vector<std::pair<std::string, size_t>>> names_;
  size_t start_ = 0, end_ = 0;
};

/// What one match attempt found. An error (a resource limit reached inside
/// the matcher) is neither a match nor proof that there is none.
enum class MatchOutcome { kMatch, kNoMatch, kError };

struct SearchResult {
  MatchOutcome outcome = MatchOutcome::kNoMatch;
  std::optional<RegexMatch> match;  // set exactly when outcome is kMatch
};

class Regex {
 public:
  /// Compiles `pattern` (UTF-8, Perl syntax); nothing when it does not compile.
  static std::optional<Regex> compile(std::string_view pattern);

  /// The first match at or after `offset`, told apart from a matcher error.
  SearchResult search(std::string_view subject, size_t offset = 0) const;
  /// Whether it matches; an error counts as no match, so callers that must
  /// fail closed (credential removal) use search() instead.
  bool is_match(std::string_view subject) const;
  /// The first match at or after `offset`; an error counts as no match.
  std::optional<RegexMatch> find(std::string_view subject, size_t offset = 0) const;
  std::vector<RegexMatch> find_all(std::string_view subject) const;
  /// Replaces every match; `$1`, `${name}` refer to groups (empty when a group
  /// did not take part). Nothing when the
  /// matcher fails part-way, so that no caller mistakes the unchanged
  /// subject for a text without matches.
  std::optional<std::string> replace_all(std::string_view subject,
                                         std::string_view replacement) const;
  const std::string& pattern() const { return pattern_; }

 private:
  struct Code;
  std::shared_ptr<const Code> code_;
  std::string pattern_;
};

/// Compiles a pattern; nothing when it is invalid.
std::optional<Regex> regex_compile(std::string_view pattern);
/// Whether `pattern` matches anywhere in `text`; an invalid pattern never matches.
/// Compiled patterns are cached for the life of the process.
bool regex_is_match(std::string_view pattern, std::string_view text);
/// Escapes every metacharacter so that `text` matches literally.
std::string regex_escape(std::string_view text);

/// A literal pattern compiled once; aborts the run when it does not compile,
/// since that is a programming error caught by the tests.
const Regex& static_regex(const char* pattern);

}  // namespace corvale
