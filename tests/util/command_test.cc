#include "util/command.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace corvale {
namespace {

TEST(Command, StdoutWinsWhenItHasText) {
  EXPECT_EQ(run_command_text("sh", {"-c", "echo out; echo err >&2"}), "out\n");
}

TEST(Command, StderrWhenStdoutIsBlank) {
  EXPECT_EQ(run_command_text("sh", {"-c", "printf '\\n  \\n'; echo 'no such table' >&2"}),
            "no such table\n");
}

TEST(Command, BlankOutputAndSilentStderrGiveEmptyText) {
  EXPECT_EQ(run_command_text("sh", {"-c", "printf '\\n\\n'"}), "");
}

TEST(Command, MissingProgramGivesEmptyText) {
  auto r = run_command("corvale-no-such-program", {});
  EXPECT_FALSE(r.started);
  EXPECT_EQ(run_command_text("corvale-no-such-program", {}), "");
}

TEST(Command, ExitStatusAndArgumentsAreNotAShell) {
  auto r = run_command("sh", {"-c", "exit 3"});
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exit_status, 3);
  // An argument with shell syntax arrives verbatim.
  EXPECT_EQ(run_command_text("printf", {"%s", "$(id); echo x"}), "$(id); echo x");
}

TEST(Command, InvalidUtf8IsReplaced) {
  EXPECT_EQ(run_command_text("printf", {"a\\377b"}),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(Command, ChattyChildOnBothPipesDoesNotDeadlock) {
  // 1 MiB on each stream: far beyond a pipe buffer, so reading one pipe at a
  // time would hang.
  auto r = run_command("sh", {"-c", "head -c 1048576 /dev/zero; head -c 1048576 /dev/zero >&2"},
                       std::chrono::milliseconds(10000));
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out.size(), 1048576u);
  EXPECT_EQ(r.err.size(), 1048576u);
}

TEST(Command, HungChildIsKilledAtTheLimit) {
  auto start = std::chrono::steady_clock::now();
  auto r = run_command("sh", {"-c", "echo partial; sleep 30"}, std::chrono::milliseconds(300));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(command_text(r), "");
  EXPECT_LT(took, std::chrono::seconds(5));
}

// An interrupted run kills the commands it waits for, and starts no more,
// instead of waiting out their limits.
TEST(Command, KilledOnInterrupt) {
  auto start = std::chrono::steady_clock::now();
  CommandResult running;
  std::thread waiter([&running] { running = run_command("sleep", {"30"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill_running_commands();
  waiter.join();
  CommandResult later = run_command("sleep", {"30"});
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(running.started);
  EXPECT_EQ(running.exit_status, -1);  // ended by a signal
  EXPECT_FALSE(later.started);
  EXPECT_LT(took, std::chrono::seconds(5));
}

TEST(Command, StdinIsEmpty) {
  EXPECT_EQ(run_command_text("sh", {"-c", "cat; echo done"}), "done\n");
}

}  // namespace
}  // namespace corvale
