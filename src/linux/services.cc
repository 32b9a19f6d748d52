#include "linux/services.h"

#include "facts/products.h"
#include "linux/table_command.h"
#include "util/regex.h"
#include "util/text.h"

namespace corvale {
namespace {

constexpr std::string_view kFailureMarker = "\u25CF";  // ●

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Removes status markers ('●', '*') and, when `blanks`, white space from the
// front of `s`.
std::string_view strip_markers_front(std::string_view s, bool blanks) {
  for (;;) {
    if (s.starts_with(kFailureMarker)) {
      s.remove_prefix(kFailureMarker.size());
    } else if (s.starts_with('*') || (blanks && !s.empty() && is_blank(s.front()))) {
      s.remove_prefix(1);
    } else {
      return s;
    }
  }
}

std::string_view strip_markers_back(std::string_view s) {
  for (;;) {
    if (s.ends_with(kFailureMarker)) {
      s.remove_suffix(kFailureMarker.size());
    } else if (s.ends_with('*')) {
      s.remove_suffix(1);
    } else {
      return s;
    }
  }
}

}  // namespace

std::vector<ServiceEntry> parse_service_units(std::string_view text) {
  std::vector<ServiceEntry> out;
  for (auto raw : split_lines(text)) {
    // The marker may stand apart ("● x.service"); taken as its own column it
    // would leave an empty name and shift the load state.
    auto line = strip_markers_front(trim_view(raw), true);
    auto fields = split_ws(line);
    if (fields.empty()) continue;
    auto name = trim_view(strip_markers_back(fields[0]));
    if (name.empty()) continue;
    ServiceEntry e;
    e.name = std::string(name);
    if (fields.size() > 1) e.load_state = std::string(fields[1]);
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<ServiceEntry> list_running_services() {
  return parse_service_units(table_command_output(
      "systemctl",
      {"list-units", "--type=service", "--state=running", "--no-legend", "--plain", "--no-pager"}));
}

std::vector<ServiceEntry> match_services(const std::vector<ServiceEntry>& services) {
  const Regex& product = product_patterns().product_service;
  std::vector<ServiceEntry> out;
  for (const auto& s : services) {
    std::string hay = s.name + " " + s.load_state.value_or("") + " " + s.path;
    if (product.is_match(hay)) out.push_back(s);
  }
  return out;
}

}  // namespace corvale
