#define PCRE2_CODE_UNIT_WIDTH 8
#include "util/regex.h"

#include <pcre2.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace corvale {

struct Regex::Code {
  pcre2_code* code = nullptr;
  std::shared_ptr<const std::vector<std::pair<std::string, size_t>>> names;
  ~Code() { pcre2_code_free(code); }
};

namespace {

struct MatchData {
  pcre2_match_data* md;
  explicit MatchData(const pcre2_code* c) : md(pcre2_match_data_create_from_pattern(c, nullptr)) {}
  ~MatchData() { pcre2_match_data_free(md); }
  MatchData(const MatchData&) = delete;
  MatchData& operator=(const MatchData&) = delete;
};

// Backtracking patterns over long values (a JSON secret of a few KB on a
// command line) overflow the JIT's default 32 KB stack, which turns a match
// into an error. Each thread gets a larger stack of its own, since a JIT stack
// must not be shared by concurrent matches.
constexpr size_t kJitStackStart = 32u << 10;
constexpr size_t kJitStackMax = 4u << 20;

class ThreadMatchContext {
 public:
  ThreadMatchContext()
      : ctx_(pcre2_match_context_create(nullptr)),
        stack_(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr)) {
    if (ctx_ != nullptr && stack_ != nullptr) pcre2_jit_stack_assign(ctx_, nullptr, stack_);
  }
  ~ThreadMatchContext() {
    pcre2_match_context_free(ctx_);
    pcre2_jit_stack_free(stack_);
  }
  ThreadMatchContext(const ThreadMatchContext&) = delete;
  ThreadMatchContext& operator=(const ThreadMatchContext&) = delete;
  pcre2_match_context* get() const { return ctx_; }

 private:
  pcre2_match_context* ctx_;
  pcre2_jit_stack* stack_;
};

pcre2_match_context* match_context() {
  thread_local ThreadMatchContext ctx;
  return ctx.get();
}

std::vector<std::pair<std::string, size_t>> read_names(const pcre2_code* code) {
  std::vector<std::pair<std::string, size_t>> names;
  uint32_t count = 0, entry_size = 0;
  PCRE2_SPTR table = nullptr;
  pcre2_pattern_info(code, PCRE2_INFO_NAMECOUNT, &count);
  pcre2_pattern_info(code, PCRE2_INFO_NAMEENTRYSIZE, &entry_size);
  pcre2_pattern_info(code, PCRE2_INFO_NAMETABLE, &table);
  for (uint32_t i = 0; i < count; ++i) {
    PCRE2_SPTR e = table + i * entry_size;
    size_t n = (static_cast<size_t>(e[0]) << 8) | e[1];
    names.emplace_back(reinterpret_cast<const char*>(e + 2), n);
  }
  return names;
}

}  // namespace

std::optional<std::string_view> RegexMatch::group(size_t i) const {
  if (i >= groups_.size()) return std::nullopt;
  return groups_[i];
}

std::optional<std::string_view> RegexMatch::named(std::string_view name) const {
  if (!names_) return std::nullopt;
  for (const auto& [n, idx] : *names_)
    if (n == name) return group(idx);
  return std::nullopt;
}

std::optional<Regex> Regex::compile(std::string_view pattern) {
  int err = 0;
  PCRE2_SIZE off = 0;
  // Subjects are decoded text, but MATCH_INVALID_UTF keeps a stray byte from
  // turning a match into an error.
  pcre2_code* c = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                PCRE2_UTF | PCRE2_MATCH_INVALID_UTF, &err, &off, nullptr);
  if (c == nullptr) return std::nullopt;
  // The JIT matches invalid UTF-8 in line; the interpreter would re-scan the
  // rest of the subject on every call, making repeated matching quadratic.
  pcre2_jit_compile(c, PCRE2_JIT_COMPLETE);
  auto code = std::make_shared<Code>();
  code->code = c;
  code->names = std::make_shared<const std::vector<std::pair<std::string, size_t>>>(read_names(c));
  Regex r;
  r.code_ = std::move(code);
  r.pattern_ = std::string(pattern);
  return r;
}

SearchResult Regex::search(std::string_view subject, size_t offset) const {
  if (offset > subject.size()) return {};
  MatchData md(code_->code);
  if (md.md == nullptr) return {MatchOutcome::kError, std::nullopt};
  int rc = pcre2_match(code_->code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                       offset, 0, md.md, match_context());
  if (rc == PCRE2_ERROR_NOMATCH) return {};
  // rc == 0 means the ovector was too small, which match data sized from the
  // pattern rules out; treat it like every other failure.
  if (rc <= 0) return {MatchOutcome::kError, std::nullopt};
  uint32_t pairs = pcre2_get_ovector_count(md.md);
  PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md.md);
  RegexMatch m;
  m.groups_.resize(pairs);
  for (uint32_t i = 0; i < pairs; ++i) {
    if (ov[2 * i] == PCRE2_UNSET || ov[2 * i + 1] < ov[2 * i]) continue;
    m.groups_[i] = subject.substr(ov[2 * i], ov[2 * i + 1] - ov[2 * i]);
  }
  m.start_ = ov[0];
  m.end_ = ov[1];
  m.names_ = code_->names;
  return {MatchOutcome::kMatch, std::move(m)};
}

std::optional<RegexMatch> Regex::find(std::string_view subject, size_t offset) const {
  return search(subject, offset).match;
}

bool Regex::is_match(std::string_view subject) const { return find(subject).has_value(); }

std::vector<RegexMatch> Regex::find_all(std::string_view subject) const {
  std::vector<RegexMatch> out;
  size_t off = 0;
  while (off <= subject.size()) {
    auto m = find(subject, off);
    if (!m) break;
    size_t next = m->end() > m->start() ? m->end() : m->end() + 1;
    out.push_back(std::move(*m));
    off = next;
  }
  return out;
}

std::optional<std::string> Regex::replace_all(std::string_view subject,
                                              std::string_view replacement) const {
  std::string out(subject.size() + 64, '\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    PCRE2_SIZE len = out.size();
    int rc = pcre2_substitute(
        code_->code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0,
        PCRE2_SUBSTITUTE_GLOBAL | PCRE2_SUBSTITUTE_OVERFLOW_LENGTH | PCRE2_SUBSTITUTE_UNSET_EMPTY,
        nullptr, match_context(), reinterpret_cast<PCRE2_SPTR>(replacement.data()),
        replacement.size(), reinterpret_cast<PCRE2_UCHAR*>(out.data()), &len);
    if (rc >= 0) {
      out.resize(len);
      return out;
    }
    if (rc != PCRE2_ERROR_NOMEMORY) break;
    out.assign(len + 1, '\0');
  }
  return std::nullopt;
}

std::optional<Regex> regex_compile(std::string_view pattern) { return Regex::compile(pattern); }

bool regex_is_match(std::string_view pattern, std::string_view text) {
  static std::mutex mu;
  static std::map<std::string, std::optional<Regex>, std::less<>> cache;
  std::optional<Regex> re;
  {
    std::lock_guard lock(mu);
    auto it = cache.find(pattern);
    if (it == cache.end()) it = cache.emplace(std::string(pattern), Regex::compile(pattern)).first;
    re = it->second;
  }
  return re && re->is_match(text);
}

std::string regex_escape(std::string_view text) {
  std::string r;
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}-/#").find(c) != std::string_view::npos) r += '\\';
    r += c;
  }
  return r;
}

const Regex& static_regex(const char* pattern) {
  static std::mutex mu;
  static std::map<std::string, Regex, std::less<>> table;
  std::lock_guard lock(mu);
  auto it = table.find(pattern);
  if (it != table.end()) return it->second;
  auto re = Regex::compile(pattern);
  if (!re) {
    std::fprintf(stderr, "corvale: internal error: bad pattern %s\n", pattern);
    std::abort();
  }
  return table.emplace(pattern, std::move(*re)).first->second;
}

}  // namespace corvale
