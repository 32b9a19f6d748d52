// The controller client's edges: one bounded HTTP exchange, one bounded
// configuration file read and one bounded listing of a configuration folder.
#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "mihomo/controller.h"
#include "util/fd.h"
#include "util/file.h"
#include "util/text.h"

namespace corvale {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxReplyBytes = 4u << 20;

int remaining_ms(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until the deadline; false on time-out or error.
bool wait_for(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    int left = remaining_ms(deadline);
    if (left == 0) return false;
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, left);
    if (rc < 0 && errno == EINTR) continue;
    return rc > 0;
  }
}

bool send_all(int fd, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    if (!wait_for(fd, POLLOUT, deadline)) return false;
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Everything the peer sends until it closes, errs, stalls past the deadline
// or exceeds the size bound.
std::string read_reply(int fd, Clock::time_point deadline) {
  std::string out;
  char buf[8192];
  while (out.size() <= kMaxReplyBytes && wait_for(fd, POLLIN, deadline)) {
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// A stream to the unix socket at `path`, which must be a socket itself (not
// a link to one elsewhere), connected within the deadline.
ConnectResult unix_connect(const std::string& path, Clock::time_point deadline) {
  ConnectResult r;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  struct stat st {};
  if (path.size() >= sizeof addr.sun_path || ::lstat(path.c_str(), &st) != 0 ||
      !S_ISSOCK(st.st_mode)) {
    r.error = "not a socket";
    return r;
  }
  path.copy(addr.sun_path, path.size());
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return r;
  int rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && errno != EINPROGRESS && errno != EAGAIN) return r;
  if (rc != 0) {
    int err = 0;
    socklen_t len = sizeof err;
    if (!wait_for(fd.get(), POLLOUT, deadline) ||
        ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
      return r;
  }
  r.fd = std::move(fd);
  return r;
}

uint16_t status_of(std::string_view head) {
  for (auto line : split_lines(head)) {
    std::string l = to_lower(trim_view(line));
    if (!l.starts_with("http/")) continue;
    auto fields = split_ws(l);
    return fields.size() > 1 ? parse_uint<uint16_t>(fields[1]).value_or(0) : 0;
  }
  return 0;
}

}  // namespace

HttpResult controller_get(const std::string& host, uint16_t port, const std::string& path,
                          const HeaderList& headers, uint64_t timeout_ms) {
  auto start = Clock::now();
  auto deadline = start + std::chrono::milliseconds(timeout_ms);
  // An absolute path names a unix-socket controller; its port is unused.
  bool unix_socket = host.starts_with("/");
  ConnectResult conn =
      unix_socket ? unix_connect(host, deadline) : tcp_connect(host, port, timeout_ms);
  if (!conn.ok()) return std::nullopt;

  bool v6 = host.find(':') != std::string::npos;
  std::string request =
      fmt::format("GET {} HTTP/1.0\r\nHost: {}\r\nConnection: close\r\nAccept: */*\r\n",
                  path.empty() ? "/" : path,
                  unix_socket ? "localhost"
                  : v6        ? "[" + host + "]"
                              : host);
  for (const auto& [name, value] : headers) request += fmt::format("{}: {}\r\n", name, value);
  request += "\r\n";
  if (!send_all(conn.fd.get(), request, deadline)) return std::nullopt;

  std::string reply = read_reply(conn.fd.get(), deadline);
  HttpResponse r;
  r.elapsed_ms = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  size_t split_at = reply.find("\r\n\r\n");
  std::string_view head = reply;
  if (split_at != std::string::npos) {
    head = std::string_view(reply).substr(0, split_at);
    r.body = decode_utf8_lossy(std::string_view(reply).substr(split_at + 4));
  }
  r.status = status_of(decode_utf8_lossy(head));
  return r;
}

std::map<std::string, std::string> core_variables(std::string_view environ_block) {
  std::map<std::string, std::string> out;
  for (std::string_view entry : split(environ_block, '\0')) {
    size_t eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view name = entry.substr(0, eq);
    for (std::string_view wanted : kCoreVariables)
      if (name == wanted) out.emplace(std::string(name), std::string(entry.substr(eq + 1)));
  }
  return out;
}

std::map<std::string, std::string> read_core_environ(uint32_t pid) {
  auto block = read_file(fmt::format("/proc/{}/environ", pid), kMaxConfigBytes, FinalLink::kRefuse);
  return block ? core_variables(*block) : std::map<std::string, std::string>();
}

std::vector<std::string> list_json_files(const std::string& dir) {
  std::vector<std::string> paths;
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return paths;
  for (const auto& name : directory_names(fd.get())) {
    if (paths.size() == kMaxConfigDirFiles) break;
    if (name.size() <= 5 || !name.ends_with(".json") || name.starts_with(".")) continue;
    struct stat st {};
    // A link, folder or device is no configuration file.
    if (::fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      paths.push_back((dir.ends_with("/") ? dir : dir + "/") + name);
  }
  return paths;
}

std::optional<std::string> read_config_file(const std::string& path) {
  struct stat st {};
  // lstat: a symbolic link or a device, FIFO or socket is not a configuration file.
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  auto text = read_file(path, kMaxConfigBytes, FinalLink::kRefuse);
  if (!text) return std::nullopt;
  if (static_cast<uint64_t>(st.st_size) > kMaxConfigBytes) {
    // Cut at the last complete line rather than hand on half a line.
    size_t nl = text->rfind('\n');
    text->resize(nl == std::string::npos ? 0 : nl + 1);
  }
  return text;
}

}  // namespace corvale
