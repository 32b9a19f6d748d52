#include "linux/table_command.h"

#include "util/command.h"
#include "util/text.h"

namespace corvale {

std::string table_command_output(const std::string& program, const std::vector<std::string>& args) {
  CommandResult r = run_command(program, args);
  if (!r.started || r.timed_out) return {};
  return decode_utf8_lossy(r.out);
}

}  // namespace corvale
