#include "parallel/progress.h"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "util/text.h"

namespace corvale {
namespace {

std::atomic<ProgressState*> g_state{nullptr};

void write_all(int fd, std::string_view s) {
  while (!s.empty()) {
    ssize_t n = ::write(fd, s.data(), s.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    s.remove_prefix(static_cast<size_t>(n));
  }
}

struct TimingState {
  std::mutex mu;
  std::chrono::steady_clock::time_point start;
  std::optional<std::chrono::steady_clock::time_point> last;
};

// Read at every draw, so a window resized during the run is followed.
size_t terminal_width(int fd) {
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) != 0) return progress_width(0);
  return progress_width(ws.ws_col);
}

int64_t whole_ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

}  // namespace

void progress_init(bool enabled) {
  if (g_state.load()) return;
  // Lives for the whole process on purpose: workers may tick until exit.
  auto* s = new ProgressState;
  s->enabled = enabled;
  ProgressState* expected = nullptr;
  if (!g_state.compare_exchange_strong(expected, s)) delete s;
}

ProgressState* progress_state() { return g_state.load(std::memory_order_acquire); }

size_t progress_width(size_t columns) {
  if (columns == 0) return kProgressWidth;
  return std::min(kProgressWidth, columns - 1);
}

std::string progress_line(size_t done, size_t total, std::string_view label, size_t width) {
  size_t t = total == 0 ? 1 : total;
  size_t percent = std::min<size_t>(done * 100 / t, 100);
  size_t filled = done * 24 / t;
  std::string bar(24, '-');
  for (size_t i = 0; i < 24 && i < filled; ++i) bar[i] = '#';
  std::string text = fmt::format("  [{}] {:>3}%  {}", bar, percent, label);
  // Cut at a character boundary so a long UTF-8 label never leaves half a character.
  if (text.size() > width) {
    size_t cut = width;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  text.append(width - text.size(), ' ');
  return text;
}

void progress_tick(std::string_view label) {
  ProgressState* s = progress_state();
  if (s == nullptr) return;
  s->done.fetch_add(1, std::memory_order_relaxed);
  if (!s->enabled) return;
  std::lock_guard lock(s->draw_lock);
  if (!s->enabled) return;
  std::string line = progress_line(s->done.load(), s->total.load(), label, terminal_width(s->fd));
  write_all(s->fd, "\r");
  write_all(s->fd, line);
}

void progress_add(size_t n) {
  if (ProgressState* s = progress_state()) s->total.fetch_add(n, std::memory_order_relaxed);
}

void progress_finish() {
  ProgressState* s = progress_state();
  if (s == nullptr || !s->enabled) return;
  std::lock_guard lock(s->draw_lock);
  if (!s->enabled) return;
  std::string blank(terminal_width(s->fd) + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  write_all(s->fd, blank);
  s->enabled = false;
}

std::string timing_line(std::string_view label, int64_t step_ms, int64_t total_ms) {
  return fmt::format("  [timing] {:<26} {:>7} ms   (total {:>7} ms)\n", label, step_ms, total_ms);
}

namespace {
std::atomic<bool> timing_on{false};
}  // namespace

void timing_init(bool enabled) { timing_on.store(enabled, std::memory_order_relaxed); }

bool timing_enabled() { return timing_on.load(std::memory_order_relaxed); }

void timing_mark(std::string_view label) {
  if (!timing_enabled()) return;
  static TimingState* state = new TimingState{{}, std::chrono::steady_clock::now(), std::nullopt};
  auto now = std::chrono::steady_clock::now();
  std::string line;
  {
    std::lock_guard lock(state->mu);
    auto base = state->last.value_or(state->start);
    line = timing_line(label, whole_ms(now - base), whole_ms(now - state->start));
    state->last = now;
  }
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(2, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::fputs("corvale: failed to write timing line to standard error\n", stderr);
      std::abort();
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

std::string banner_text(std::string_view title) {
  std::string rule(30, '=');
  return fmt::format("\n{}\n  {}\n{}\n", rule, title, rule);
}

void banner(std::string_view title) { std::fputs(banner_text(title).c_str(), stdout); }

std::string_view status_word_text(bool ok) { return ok ? "OK\n" : "FAIL\n"; }

void status_word(bool ok) { std::fputs(status_word_text(ok).data(), stdout); }

}  // namespace corvale
