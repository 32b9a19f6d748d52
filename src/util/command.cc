#include "util/command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "util/fd.h"
#include "util/text.h"

extern char** environ;

namespace corvale {
namespace {

// Output beyond this is dropped: no command we read prints anywhere near it.
constexpr size_t kMaxOutput = 64u << 20;

std::vector<char*> make_argv(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// The children run_command waits for, so an interrupt can stop them.
struct Children {
  std::mutex mu;
  std::vector<pid_t> pids;
  bool killing = false;  // set once by an interrupt: nothing starts after it
};

Children& children() {
  static Children* c = new Children;  // outlives every thread that may still spawn
  return *c;
}

// Spawns and lists the child under one lock, so an interrupt either sees it
// listed or keeps it from starting: no child escapes between the two.
int spawn_listed(pid_t& pid, const char* program, const posix_spawn_file_actions_t* fa,
                 const posix_spawnattr_t* attr, char* const argv[]) {
  Children& c = children();
  std::lock_guard lock(c.mu);
  if (c.killing) return ECANCELED;
  int rc = posix_spawnp(&pid, program, fa, attr, argv, environ);
  if (rc == 0) c.pids.push_back(pid);
  return rc;
}

void forget_child(pid_t pid) {
  Children& c = children();
  std::lock_guard lock(c.mu);
  std::erase(c.pids, pid);
}

// The child is first seen exited without being reaped, and only reaped
// after it left the list: a listed pid can never belong to a stranger.
int wait_child(pid_t pid, int options) {
  siginfo_t info{};
  for (;;) {
    info.si_pid = 0;
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | options) == 0) break;
    if (errno != EINTR) return -2;
  }
  if (info.si_pid == 0) return -1;  // WNOHANG, still running
  forget_child(pid);
  int status = 0;
  for (;;) {
    if (::waitpid(pid, &status, 0) == pid) return status;
    if (errno != EINTR) return -2;
  }
}

// Standard signal state for a child: nothing blocked (the driver blocks
// SIGINT and SIGTERM for its own threads) and SIGPIPE at its default.
void init_child_signals(posix_spawnattr_t& attr) {
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t deflt;
  sigemptyset(&deflt);
  sigaddset(&deflt, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &deflt);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

}  // namespace

CommandResult run_command(const std::string& program, const std::vector<std::string>& args,
                          std::chrono::milliseconds limit) {
  CommandResult res;
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return res;
  UniqueFd out_r(out_pipe[0]), out_w(out_pipe[1]);
  if (pipe2(err_pipe, O_CLOEXEC) != 0) return res;
  UniqueFd err_r(err_pipe[0]), err_w(err_pipe[1]);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out_w.get(), 1);
  posix_spawn_file_actions_adddup2(&fa, err_w.get(), 2);
  posix_spawnattr_t attr;
  init_child_signals(attr);

  auto argv = make_argv(program, args);
  pid_t pid = -1;
  int rc = spawn_listed(pid, program.c_str(), &fa, &attr, argv.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  out_w.reset();
  err_w.reset();
  if (rc != 0) return res;
  res.started = true;

  auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{out_r.get(), POLLIN, 0}, {err_r.get(), POLLIN, 0}};
  std::string* sinks[2] = {&res.out, &res.err};
  int open_count = 2;
  char buf[65536];
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      res.timed_out = true;
      break;
    }
    int n = poll(fds, 2, static_cast<int>(left.count()));
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) {
        fds[i].fd = -1;
        --open_count;
        continue;
      }
      if (sinks[i]->size() < kMaxOutput) sinks[i]->append(buf, static_cast<size_t>(got));
    }
  }
  if (res.timed_out) {
    kill(pid, SIGKILL);
    wait_child(pid, 0);
    res.out.clear();
    res.err.clear();
    return res;
  }
  // Both pipes are closed; the child has exited or closed them. Give a child
  // that closed its output but lingers the rest of the limit, then kill it.
  int status = -1;
  for (;;) {
    status = wait_child(pid, WNOHANG);
    if (status != -1) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      wait_child(pid, 0);
      res.timed_out = true;
      res.out.clear();
      res.err.clear();
      return res;
    }
    usleep(2000);
  }
  if (status >= 0 && WIFEXITED(status)) res.exit_status = WEXITSTATUS(status);
  return res;
}

std::string command_text(const CommandResult& r) {
  if (!r.started || r.timed_out) return {};
  std::string out = decode_utf8_lossy(r.out);
  if (!trim_view(out).empty()) return out;
  return decode_utf8_lossy(r.err);
}

std::string run_command_text(const std::string& program, const std::vector<std::string>& args) {
  return command_text(run_command(program, args));
}

bool spawn_detached(const std::string& program, const std::vector<std::string>& args) {
  auto argv = make_argv(program, args);
  posix_spawnattr_t attr;
  init_child_signals(attr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  return rc == 0;
}

void kill_running_commands() {
  Children& c = children();
  std::lock_guard lock(c.mu);
  c.killing = true;
  for (pid_t pid : c.pids) ::kill(pid, SIGKILL);
}

}  // namespace corvale
