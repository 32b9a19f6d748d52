#include "main/output_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/fd.h"

namespace corvale {
namespace {

std::string error_text() { return std::strerror(errno); }

// The temporary name sits in the same directory, so the rename stays within
// one file system; its random ending keeps it out of a "*.prom" glob.
std::string temporary_template(const std::string& path) {
  auto slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + base + ".XXXXXX";
}

std::optional<std::string> fill(int fd, std::string_view text) {
  // Readers such as node_exporter run as another user.
  if (::fchmod(fd, 0644) != 0) return error_text();
  if (auto err = write_all(fd, text)) return err;
  if (::fsync(fd) != 0) return error_text();
  return std::nullopt;
}

}  // namespace

std::optional<std::string> write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return error_text();
    if (n == 0) return std::string("write returned zero bytes");
    data.remove_prefix(static_cast<size_t>(n));
  }
  return std::nullopt;
}

std::optional<std::string> replace_file(const std::string& path, std::string_view text) {
  std::string tmp = temporary_template(path);
  UniqueFd fd(::mkostemp(tmp.data(), O_CLOEXEC));
  if (!fd.valid()) return error_text();
  auto err = fill(fd.get(), text);
  if (!err && ::close(fd.release()) != 0) err = error_text();
  if (!err && ::rename(tmp.c_str(), path.c_str()) != 0) err = error_text();
  if (err) ::unlink(tmp.c_str());
  return err;
}

}  // namespace corvale
