#include "facts/collect.h"

#include "parallel/progress.h"
#include "util/command.h"
#include "util/file.h"
#include "util/text.h"

namespace corvale {
namespace {

void collect_identity(Facts& f) {
  f.hostname = trim(decode_utf8_lossy(read_file("/proc/sys/kernel/hostname", 4096).value_or("")));
  if (f.hostname.empty()) f.hostname = trim(run_command_text("hostname", {}));
  f.os_name = parse_os_name(decode_utf8_lossy(read_file("/etc/os-release", 65536).value_or("")));
  f.collected_at = trim(run_command_text("date", {"+%Y-%m-%d %H:%M:%S"}));
}

}  // namespace

std::string parse_os_name(std::string_view os_release) {
  for (auto line : split_lines(os_release)) {
    if (!line.starts_with("PRETTY_NAME=")) continue;
    std::string_view v = trim_view(line.substr(12));
    while (!v.empty() && v.front() == '"') v.remove_prefix(1);
    while (!v.empty() && v.back() == '"') v.remove_suffix(1);
    return std::string(v);
  }
  return "Linux";
}

Facts collect_facts() {
  Facts f;
  collect_identity(f);
  timing_mark("adapters+pnp+routes");
  timing_mark("egress+reachability");
  timing_mark("proxy-registry");
  timing_mark("tcp-snapshots");
  timing_mark("listener-discovery");
  timing_mark("services");
  timing_mark("route-source-probe");
  timing_mark("adapter-assessments");
  timing_mark("intercept-score");
  timing_mark("core-infos");
  timing_mark("phys-candidates");
  timing_mark("phys-gw");
  timing_mark("gw-probes");
  timing_mark("zek-facts");
  return f;
}

}  // namespace corvale
