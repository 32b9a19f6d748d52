// The self-overwriting progress line and the opt-in timing lines, both on
// standard error and both safe to call from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace corvale {

inline constexpr size_t kProgressWidth = 100;
inline constexpr size_t kInitialProgressTotal = 14;

struct ProgressState {
  std::atomic<size_t> total{kInitialProgressTotal};
  std::atomic<size_t> done{0};
  std::mutex draw_lock;
  /// Cleared by progress_finish, so no worker redraws a cleared line.
  std::atomic<bool> enabled{false};
  int fd = 2;  // where the line is drawn; tests point it elsewhere
};

/// Creates the process-wide state once; later calls are ignored.
void progress_init(bool enabled);
/// The process-wide state, or null before progress_init.
ProgressState* progress_state();

void progress_tick(std::string_view label);
void progress_add(size_t n);
/// Clears the line so that the summary starts on a clean line. Safe to call
/// again, and from the thread that ends an interrupted run.
void progress_finish();

/// "  [####----…] nnn%  label", cut or padded to exactly `width` characters.
std::string progress_line(size_t done, size_t total, std::string_view label,
                          size_t width = kProgressWidth);
/// The line's width on a terminal of `columns` columns (0: unknown): one
/// short of the edge, so the cursor never wraps to a new line.
size_t progress_width(size_t columns);

/// Turns the timing lines on or off (the driver passes whether CORVALE_TIMING
/// is set); they are off until then.
void timing_init(bool enabled);
bool timing_enabled();
/// Prints "  [timing] …" when timing is on.
void timing_mark(std::string_view label);
std::string timing_line(std::string_view label, int64_t step_ms, int64_t total_ms);

/// Console summary helpers: a section banner and "OK"/"FAIL" on standard output.
void banner(std::string_view title);
void status_word(bool ok);
std::string banner_text(std::string_view title);
/// "OK\n" or "FAIL\n".
std::string_view status_word_text(bool ok);

}  // namespace corvale
