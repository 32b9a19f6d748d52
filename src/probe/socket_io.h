// Deadline-bounded socket I/O shared by the probes. Every wait is a poll on
// the remaining time, so a slow or silent peer can never hold a probe longer
// than its deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "probe/probe.h"
#include "util/fd.h"

namespace corvale {

using ProbeClock = std::chrono::steady_clock;

class Deadline {
 public:
  /// `ms` from now; absurdly large values are clamped to a day.
  static Deadline after(uint64_t ms);
  bool expired() const { return ProbeClock::now() >= at_; }
  ProbeClock::duration remaining() const;

 private:
  ProbeClock::time_point at_;
};

/// Whole milliseconds since `start`.
uint64_t elapsed_ms_since(ProbeClock::time_point start);

/// Waits until `fd` reports one of `events` (or an error/hang-up) or the
/// deadline passes; restarts after EINTR with the time left.
bool wait_ready(int fd, short events, const Deadline& deadline);

/// Non-blocking connect to `addr`, finished before `deadline`.
ConnectResult connect_before(const SocketAddress& addr, const Deadline& deadline);

/// Sends every byte before the deadline, never raising SIGPIPE.
bool send_all(int fd, std::string_view data, const Deadline& deadline);

enum class ReadStatus { kData, kEof, kError, kTimeout };
/// One read of at most `cap` bytes appended to `out`.
ReadStatus read_some(int fd, std::string& out, size_t cap, const Deadline& deadline);

}  // namespace corvale
