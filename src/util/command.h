// Runs external programs for their text output. Programs get an argument
// vector (never a shell), standard input from /dev/null, and a run-time limit.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace corvale {

/// A hung command (systemctl waiting on a dead bus) must not stall the run.
inline constexpr std::chrono::milliseconds kCommandLimit{20000};

struct CommandResult {
  bool started = false;    // the program could be executed
  bool timed_out = false;  // killed at the run-time limit
  int exit_status = -1;    // exit code, or -1 when killed by a signal / not started
  std::string out;         // raw bytes of standard output
  std::string err;         // raw bytes of standard error
};

/// Runs `program` (looked up on PATH) and waits for it, draining both pipes
/// together. A child still running at `limit` is killed and reaped.
CommandResult run_command(const std::string& program, const std::vector<std::string>& args,
                          std::chrono::milliseconds limit = kCommandLimit);

/// Standard output decoded as UTF-8 when it has any non-blank character,
/// else standard error; empty when the program cannot start or times out.
std::string run_command_text(const std::string& program, const std::vector<std::string>& args);

/// The text rule of run_command_text applied to a finished command.
std::string command_text(const CommandResult& r);

/// Kills every command that run_command is waiting for, and keeps any more
/// from starting: an interrupted run must not leave a `ping` behind.
void kill_running_commands();

/// Starts `program` with inherited standard streams and does not wait.
/// Returns whether it could be started.
bool spawn_detached(const std::string& program, const std::vector<std::string>& args);

}  // namespace corvale
