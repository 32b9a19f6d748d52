#include "util/clock.h"

#include <ctime>

namespace corvale {

std::string local_time_text(std::chrono::system_clock::time_point t, const char* strftime_format) {
  std::time_t secs = std::chrono::system_clock::to_time_t(t);
  std::tm local{};
  if (::localtime_r(&secs, &local) == nullptr) return {};
  char buf[128];
  size_t n = std::strftime(buf, sizeof buf, strftime_format, &local);
  return std::string(buf, n);
}

std::string local_time_now(const char* strftime_format) {
  return local_time_text(std::chrono::system_clock::now(), strftime_format);
}

}  // namespace corvale
