#include "main/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "parallel/progress.h"
#include "util/command.h"

namespace corvale {
namespace {

struct Outputs {
  std::mutex mu;
  std::vector<std::string> paths;
};

Outputs& outputs() {
  static Outputs* o = new Outputs;  // the watch thread may use it until exit
  return *o;
}

bool ignored(int sig) {
  struct sigaction old {};
  return ::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
}

[[noreturn]] void end_run(int sig) {
  kill_running_commands();
  {
    Outputs& o = outputs();
    // Held until the process ends, so no write can register a new file now.
    o.mu.lock();
    for (const auto& p : o.paths) ::unlink(p.c_str());
  }
  progress_finish();
  // Dying by the signal itself tells a calling shell that the user stopped
  // the run, so a script's loop stops too.
  ::signal(sig, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

}  // namespace

void start_interrupt_watch() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM})
    if (!ignored(sig)) sigaddset(&set, sig);
  if (sigisemptyset(&set)) return;
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int sig = 0;
    while (::sigwait(&set, &sig) != 0) {
    }
    end_run(sig);
  }).detach();
}

void output_started(const std::string& path) {
  Outputs& o = outputs();
  std::lock_guard lock(o.mu);
  o.paths.push_back(path);
}

void output_finished(const std::string& path) {
  Outputs& o = outputs();
  std::lock_guard lock(o.mu);
  std::erase(o.paths, path);
}

}  // namespace corvale
