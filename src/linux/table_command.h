// Standard output of a command that prints a table.
#pragma once

#include <string>
#include <vector>

namespace corvale {

/// Standard output only, decoded as UTF-8: `ss` and `systemctl` print their
/// tables there and errors on standard error, and an error message ("Failed
/// to connect to bus ...") parsed as a table row would become a bogus entry.
/// Empty when the program cannot start or hits the run-time limit.
std::string table_command_output(const std::string& program, const std::vector<std::string>& args);

}  // namespace corvale
