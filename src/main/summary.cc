#include "main/summary.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdio>

#include "parallel/progress.h"

namespace corvale {

std::string format_speed(uint64_t bps) {
  if (bps == 0) return "0 bps";
  struct Unit {
    double size;
    const char* name;
  };
  static constexpr Unit units[] = {{1e12, "Tbps"}, {1e9, "Gbps"}, {1e6, "Mbps"}, {1e3, "Kbps"}};
  double v = static_cast<double>(bps);
  for (const auto& u : units) {
    if (u.size > v) continue;
    double q = v / u.size;
    if (std::fabs(q - std::round(q)) < 1e-9) return fmt::format("{} {}", std::llround(q), u.name);
    return fmt::format("{:.1f} {}", q, u.name);
  }
  return fmt::format("{} bps", bps);
}

std::string summary_text(const Facts&, const DnsCache&) { return {}; }

void print_summary(const Facts& facts, const DnsCache& dns) {
  std::string text = summary_text(facts, dns);
  std::fputs(text.c_str(), stdout);
}

}  // namespace corvale
