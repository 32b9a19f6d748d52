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
  std::string num(m->str(1));
  char* end = nullptr;
  double v = std::strtod(num.c_str(), &end);
  if (num.empty() || end != num.c_str() + num.size() || !std::isfinite(v)) return 0;
  double r = std::round(v);
  if (r >= static_cast<double>(std::numeric_limits<int64_t>::max()))
    return std::numeric_limits<int64_t>::max();
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
