#include "util/environment.h"

#include <unistd.h>

#include "util/text.h"

namespace corvale {

Environment::Environment(std::map<std::string, std::string, std::less<>> vars)
    : vars_(std::move(vars)) {}

Environment Environment::from_process() {
  std::map<std::string, std::string, std::less<>> vars;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    std::string_view entry(*e);
    size_t eq = entry.find('=');
    // An entry without "=" is not a variable getenv could return.
    if (eq == std::string_view::npos) continue;
    // The first definition wins, as with getenv.
    vars.try_emplace(std::string(entry.substr(0, eq)), entry.substr(eq + 1));
  }
  return Environment(std::move(vars));
}

std::optional<std::string> Environment::get(std::string_view name) const {
  auto it = vars_.find(name);
  if (it == vars_.end() || !is_valid_utf8(it->second)) return std::nullopt;
  return it->second;
}

bool Environment::is_set(std::string_view name) const { return vars_.find(name) != vars_.end(); }

EnvLookup Environment::lookup() const {
  return [this](const char* name) { return get(name); };
}

}  // namespace corvale
