#include "util/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "util/fd.h"

namespace corvale {

std::optional<std::string> read_file(const std::string& path, size_t max_bytes, FinalLink links) {
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  if (links == FinalLink::kRefuse) flags |= O_NOFOLLOW;
  UniqueFd fd(::open(path.c_str(), flags));
  if (!fd.valid()) return std::nullopt;
  std::string out;
  char buf[16384];
  while (out.size() < max_bytes) {
    size_t want = std::min(sizeof buf, max_bytes - out.size());
    ssize_t n = ::read(fd.get(), buf, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::vector<std::string> directory_names(int dirfd, size_t max_entries) {
  std::vector<std::string> names;
  int copy = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return names;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    ::close(copy);
    return names;
  }
  while (names.size() < max_entries) {
    const dirent* e = ::readdir(dir);
    if (e == nullptr) break;
    std::string_view name = e->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> read_link(const std::string& path) {
  std::string buf(4096, '\0');
  ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
  if (n <= 0) return std::nullopt;
  buf.resize(static_cast<size_t>(n));
  return buf;
}

}  // namespace corvale
