#include "linux/processes.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

#include "facts/products.h"
#include "util/file.h"
#include "util/text.h"

namespace corvale {
namespace {

constexpr size_t kCommLimit = 4096;           // the kernel keeps 16 bytes
constexpr size_t kCmdlineLimit = 256u << 10;  // Java and Electron lines run long

// Process directories carry canonical decimal names; "0042" or "self" are not
// processes.
std::optional<uint32_t> pid_of_entry(std::string_view name) {
  if (name.empty() || name.front() == '0') return std::nullopt;
  return parse_uint<uint32_t>(name);
}

std::vector<uint32_t> list_pids(const std::string& proc_root) {
  std::vector<uint32_t> pids;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(proc_root.c_str()), ::closedir);
  if (!dir) return pids;
  while (const dirent* e = ::readdir(dir.get()))
    if (auto pid = pid_of_entry(e->d_name)) pids.push_back(*pid);
  std::sort(pids.begin(), pids.end());
  return pids;
}

std::string proc_path(const std::string& proc_root, uint32_t pid, const char* file) {
  return proc_root + "/" + std::to_string(pid) + "/" + file;
}

std::optional<std::string> read_comm(const std::string& proc_root, uint32_t pid) {
  auto comm = read_file(proc_path(proc_root, pid, "comm"), kCommLimit);
  if (!comm) return std::nullopt;
  return trim(decode_utf8_lossy(*comm));
}

}  // namespace

ProcessScan scan_processes(const std::string& proc_root) {
  ProcessScan scan;
  for (uint32_t pid : list_pids(proc_root)) {
    auto comm = read_comm(proc_root, pid);
    if (!comm) continue;  // ended between the listing and the read
    ProcessInfo p;
    p.pid = pid;
    p.name = std::move(*comm);
    std::string_view short_name = p.name;
    if (short_name.ends_with(".exe")) short_name.remove_suffix(4);
    if (is_proxy_process_name(short_name)) {
      ProcessInfo proxy = p;
      proxy.name = std::string(short_name);
      scan.proxy_processes.push_back(std::move(proxy));
    }
    scan.processes_by_pid.insert_or_assign(pid, std::move(p));
  }
  return scan;
}

std::string parse_cmdline(std::string_view raw) {
  if (raw.ends_with('\0')) raw.remove_suffix(1);
  std::string out;
  const std::vector<std::string_view> args = split(raw, '\0');
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (i > 0) out += ' ';
    // An argument holding blanks is quoted, as the shell that started the
    // program had it: -secret "a b" must stay one value for the controller
    // client and for credential removal, or half a secret is shown. A title
    // the process wrote over its arguments ("sshd: alice [priv]") is one
    // text, left as it is.
    if (args.size() == 1 || arg.find_first_of(" \t\n\r\f\v") == std::string_view::npos) {
      out += arg;
    } else {
      char quote = arg.find('"') == std::string_view::npos ? '"' : '\'';
      out += quote;
      out += arg;
      out += quote;
    }
  }
  return decode_utf8_lossy(out);
}

std::optional<ProcessInfo> read_process_info(uint32_t pid, const std::string& proc_root) {
  auto comm = read_comm(proc_root, pid);
  if (!comm || comm->empty()) return std::nullopt;
  ProcessInfo p;
  p.pid = pid;
  p.exe_path = decode_utf8_lossy(read_link(proc_path(proc_root, pid, "exe")).value_or(""));
  p.command_line =
      parse_cmdline(read_file(proc_path(proc_root, pid, "cmdline"), kCmdlineLimit).value_or(""));
  auto slash = p.exe_path.rfind('/');
  std::string base = slash == std::string::npos ? p.exe_path : p.exe_path.substr(slash + 1);
  p.name = base.empty() ? std::move(*comm) : std::move(base);
  return p;
}

}  // namespace corvale
