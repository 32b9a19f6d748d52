// The wall clock, read in-process instead of by running `date`.
#pragma once

#include <chrono>
#include <string>

namespace corvale {

/// `t` in local time (TZ as `date` reads it) through strftime conversions, so
/// that it reads as `date +FORMAT` prints it; empty when the time cannot be
/// converted.
std::string local_time_text(std::chrono::system_clock::time_point t, const char* strftime_format);

/// The same for the current time.
std::string local_time_now(const char* strftime_format);

}  // namespace corvale
