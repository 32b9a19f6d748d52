#include "linux/process_parent.h"

#include "util/file.h"
#include "util/text.h"

namespace corvale {

std::optional<uint32_t> parse_stat_parent(std::string_view stat) {
  size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  // After the name: state, then the parent pid.
  auto fields = split_ws(stat.substr(close + 1));
  if (fields.size() < 2) return std::nullopt;
  return parse_uint<uint32_t>(fields[1]);
}

std::optional<uint32_t> parent_pid(uint32_t pid, const std::string& proc_root) {
  auto stat = read_file(proc_root + "/" + std::to_string(pid) + "/stat", 4096);
  if (!stat) return std::nullopt;
  return parse_stat_parent(*stat);
}

}  // namespace corvale
