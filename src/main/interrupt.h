// Ending a run on SIGINT or SIGTERM the way a terminal user expects: at once,
// with no probe left running and no half-written file left behind.
#pragma once

#include <string>

namespace corvale {

/// Blocks SIGINT and SIGTERM in this thread and every thread started after
/// it, and starts the thread that waits for them. On one it kills the running
/// commands, removes the output files still being written, clears the
/// progress line and ends the process by that signal (status 130 or 143). A
/// signal the run was started with ignored (a script's background job) stays
/// ignored. Called once, before any other thread starts.
void start_interrupt_watch();

/// `path` has been created and is being written: an interrupt removes it.
void output_started(const std::string& path);
/// `path` is complete: an interrupt leaves it.
void output_finished(const std::string& path);

}  // namespace corvale
