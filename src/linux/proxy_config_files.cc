#include "linux/proxy_config_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "facts/products.h"
#include "facts/proxy_config_text.h"
#include "util/fd.h"
#include "util/file.h"
#include "util/regex.h"
#include "util/text.h"

namespace corvale {
namespace {

// Levels of directories below a root: the proxy-named directory is level 1.
constexpr int kMaxDepth = 3;
// A huge or deep tree (a home directory named "proxy-research") must not
// stall the run.
constexpr size_t kMaxEntriesPerDir = 4096;
constexpr size_t kMaxDirs = 256;
constexpr size_t kMaxHomes = 64;

struct Walk {
  std::vector<std::string> files;
  std::set<std::string> seen;
  size_t dirs = 0;
  bool full() const { return files.size() >= kMaxConfigFiles; }
};

bool has_config_extension(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  static const std::set<std::string, std::less<>> exts = {"yaml", "yml", "json", "toml",
                                                          "conf", "ini", "txt"};
  return exts.contains(to_lower(name.substr(dot + 1)));
}

UniqueFd open_dir_at(int dirfd, const char* name) {
  return UniqueFd(::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

void walk_dir(int dirfd, const std::string& path, int depth, Walk& w) {
  if (++w.dirs > kMaxDirs) return;
  for (const auto& name : directory_names(dirfd, kMaxEntriesPerDir)) {
    if (w.full()) return;
    struct stat st {};
    if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::string child = path + "/" + name;
    if (S_ISREG(st.st_mode)) {
      if (has_config_extension(name) && static_cast<size_t>(st.st_size) <= kMaxConfigFileBytes &&
          w.seen.insert(child).second)
        w.files.push_back(std::move(child));
    } else if (S_ISDIR(st.st_mode) && depth < kMaxDepth) {
      // O_NOFOLLOW: a directory swapped for a link after the stat is refused.
      UniqueFd sub = open_dir_at(dirfd, name.c_str());
      if (sub.valid()) walk_dir(sub.get(), child, depth + 1, w);
    }
  }
}

std::string strip_trailing_slashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::optional<std::string> absolute_env(const Environment& env, const char* name) {
  auto v = env.get(name);
  if (!v || v->empty() || v->front() != '/') return std::nullopt;
  return strip_trailing_slashes(*v);
}

// Real directories directly under `dir`, sorted; links are not followed.
std::vector<std::string> subdirectories(const std::string& dir, size_t limit) {
  std::vector<std::string> out;
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return out;
  for (const auto& name : directory_names(fd.get(), kMaxEntriesPerDir)) {
    if (out.size() >= limit) break;
    struct stat st {};
    if (::fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
      out.push_back(dir + "/" + name);
  }
  return out;
}

std::optional<std::string> read_config_file(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<size_t>(st.st_size) > kMaxConfigFileBytes)
    return std::nullopt;
  std::string text;
  char buf[16384];
  while (text.size() < kMaxConfigFileBytes) {
    ssize_t n = ::read(fd.get(), buf, std::min(sizeof buf, kMaxConfigFileBytes - text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

std::vector<std::string> find_proxy_config_files(const std::vector<std::string>& roots) {
  const Regex& proxy_dir = product_patterns().config_folder;
  Walk w;
  for (const auto& raw_root : roots) {
    if (w.full()) break;
    if (raw_root.empty()) continue;
    const std::string root = strip_trailing_slashes(raw_root);
    UniqueFd fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) continue;
    const std::string prefix = root == "/" ? "" : root;
    for (const auto& name : directory_names(fd.get(), kMaxEntriesPerDir)) {
      if (w.full()) break;
      if (!proxy_dir.is_match(name)) continue;
      struct stat st {};
      if (::fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
        continue;
      UniqueFd sub = open_dir_at(fd.get(), name.c_str());
      if (sub.valid()) walk_dir(sub.get(), prefix + "/" + name, 1, w);
    }
  }
  return w.files;
}

std::vector<std::string> default_config_roots(const Environment& env) {
  std::vector<std::string> roots;
  auto home = absolute_env(env, "HOME");
  if (auto xdg = absolute_env(env, "XDG_CONFIG_HOME"))
    roots.push_back(*xdg);
  else if (home)
    roots.push_back(*home + "/.config");
  if (auto data = absolute_env(env, "XDG_DATA_HOME"))
    roots.push_back(*data);
  else if (home)
    roots.push_back(*home + "/.local/share");
  for (const char* dir : {"/etc", "/usr/local/etc", "/opt"}) roots.emplace_back(dir);
  if (::geteuid() == 0) {
    // Run through sudo: the desktop user's cores keep their files at home.
    std::vector<std::string> homes = {"/root"};
    for (auto& h : subdirectories("/home", kMaxHomes)) homes.push_back(std::move(h));
    for (const auto& h : homes) {
      roots.push_back(h + "/.config");
      roots.push_back(h + "/.local/share");
    }
  }
  // The home directory itself last: its proxy-named folders are the least
  // specific and must not use up the file budget first.
  if (home) roots.push_back(*home);

  std::vector<std::string> unique;
  std::set<std::string> seen;
  for (auto& r : roots)
    if (seen.insert(r).second) unique.push_back(std::move(r));
  return unique;
}

void collect_config_endpoints(const std::vector<std::string>& files,
                              std::vector<ProxyEndpoint>& out,
                              std::vector<ProxyEndpoint>* controllers) {
  for (const auto& path : files) {
    auto text = read_config_file(path);
    if (text) config_text_endpoints(*text, path, out, controllers);
  }
}

}  // namespace corvale
