// The process environment, read once when the run starts and passed down, so
// that no module below the driver reads it behind its caller's back and tests
// hand in the variables they want.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace corvale {

/// Looks up an environment variable; absent when unset or not valid UTF-8.
using EnvLookup = std::function<std::optional<std::string>(const char* name)>;

class Environment {
 public:
  /// A snapshot holding exactly `vars` (name → raw value).
  explicit Environment(std::map<std::string, std::string, std::less<>> vars = {});
  /// Every variable of this process, as it is now.
  static Environment from_process();

  /// The value of `name`; absent when unset or not valid UTF-8.
  std::optional<std::string> get(std::string_view name) const;
  /// Whether `name` is set at all, to any bytes (the empty value included).
  bool is_set(std::string_view name) const;
  /// get() as a function; valid while this snapshot lives.
  EnvLookup lookup() const;

 private:
  std::map<std::string, std::string, std::less<>> vars_;
};

}  // namespace corvale
