#include <charconv>
#include <cmath>
#include <limits>

#include "probe/probe.h"
#include "util/command.h"
#include "util/regex.h"
#include "util/text.h"

namespace corvale {

int64_t parse_ping_rtt(std::string_view output) {
  static const Regex& re = static_regex(R"(time[=<]\s*([0-9.]+)\s*ms)");
  auto m = re.find(output);
  if (!m) return 0;
  std::string_view num = m->str(1);
  double v = 0;
  // from_chars ignores the locale, unlike strtod.
  auto [end, ec] = std::from_chars(num.data(), num.data() + num.size(), v);
  if (end != num.data() + num.size()) return 0;
  constexpr auto kMax = std::numeric_limits<int64_t>::max();
  if (ec == std::errc::result_out_of_range) {
    // Too large to represent saturates; too small to represent is zero.
    std::string_view whole = num.substr(0, num.find('.'));
    return whole.find_first_not_of('0') == std::string_view::npos ? 0 : kMax;
  }
  if (ec != std::errc{} || !std::isfinite(v)) return 0;
  double r = std::round(v);
  if (r >= static_cast<double>(kMax)) return kMax;
  return static_cast<int64_t>(r);
}

PingResult ping_probe(const std::string& host) {
  PingResult res;
  // Hosts come from route tables and resolver files; one that starts with '-'
  // would be read by ping as an option.
  if (host.empty() || host.front() == '-') return res;
  CommandResult cmd;
  if (host.find(':') != std::string::npos) {
    cmd = run_command("ping", {"-6", "-c", "1", "-W", "2", host});
    if (!cmd.started) cmd = run_command("ping6", {"-c", "1", "-W", "2", host});
  } else {
    cmd = run_command("ping", {"-c", "1", "-W", "2", host});
  }
  if (!cmd.started || cmd.timed_out || cmd.exit_status != 0) return res;
  res.ok = true;
  res.rtt_ms = parse_ping_rtt(decode_utf8_lossy(cmd.out));
  return res;
}

}  // namespace corvale
