// Shared fixtures of the Linux collector tests: captured data, temporary
// directories and fake commands placed first on PATH.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "facts/facts.h"
#include "support/test_data.h"

namespace corvale {

// Readable failure messages for the records the tests compare.
inline void PrintTo(const SocketEntry& e, std::ostream* os) {
  *os << "{" << e.local_address << ":" << e.local_port << " -> " << e.remote_address << ":"
      << e.remote_port << " state " << int(e.state) << " pid " << e.pid << "}";
}
inline void PrintTo(const RouteEntry& r, std::ostream* os) {
  *os << "{" << r.destination << "/" << int(r.prefix_length) << " via '" << r.gateway << "' if "
      << r.if_index << " metric " << r.metric << " family " << r.family << "}";
}
inline void PrintTo(const RouteLookup& r, std::ostream* os) {
  *os << "{if " << r.if_index << " via " << r.via.value_or("-") << " src " << r.source.value_or("-")
      << " family " << r.family << "}";
}
inline void PrintTo(const InterfaceAddress& a, std::ostream* os) {
  *os << a.address << "/" << int(a.prefix_length);
}
inline void PrintTo(const ProcessInfo& p, std::ostream* os) {
  *os << "{" << p.pid << " '" << p.name << "' '" << p.exe_path << "' '" << p.command_line << "'}";
}
inline void PrintTo(const ServiceEntry& s, std::ostream* os) {
  *os << "{" << s.name << " " << s.load_state.value_or("-") << "}";
}

}  // namespace corvale

namespace corvale::testing {

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

/// A fresh directory under $TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "corvale-linux-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

/// Puts a directory of fake programs first on PATH for the life of the object.
class FakeCommands {
 public:
  FakeCommands() : old_path_(std::getenv("PATH") ? std::getenv("PATH") : "") {
    ::setenv("PATH", (dir_.path() + ":" + old_path_).c_str(), 1);
  }
  ~FakeCommands() { ::setenv("PATH", old_path_.c_str(), 1); }
  FakeCommands(const FakeCommands&) = delete;
  FakeCommands& operator=(const FakeCommands&) = delete;

  /// Only the fake directory is searched: every other program is "missing".
  void hide_real_programs() { ::setenv("PATH", dir_.path().c_str(), 1); }

  /// Installs a /bin/sh script; every call appends its arguments to log().
  void add(const std::string& name, const std::string& body) {
    std::string path = dir_ / name;
    write_file(path, "#!/bin/sh\necho \"$*\" >>'" + log_path() + "'\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
  }

  std::string log_path() const { return dir_ / "calls.log"; }

  std::vector<std::string> calls() const {
    std::ifstream in(log_path());
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string old_path_;
};

}  // namespace corvale::testing
