#include "probe/socket_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace corvale {

Deadline Deadline::after(uint64_t ms) {
  constexpr uint64_t kMaxMs = 24ull * 3600 * 1000;
  Deadline d;
  d.at_ = ProbeClock::now() + std::chrono::milliseconds(std::min(ms, kMaxMs));
  return d;
}

ProbeClock::duration Deadline::remaining() const {
  auto left = at_ - ProbeClock::now();
  return left > ProbeClock::duration::zero() ? left : ProbeClock::duration::zero();
}

uint64_t elapsed_ms_since(ProbeClock::time_point start) {
  auto d = std::chrono::duration_cast<std::chrono::milliseconds>(ProbeClock::now() - start);
  return d.count() < 0 ? 0 : static_cast<uint64_t>(d.count());
}

bool wait_ready(int fd, short events, const Deadline& deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.remaining());
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
    pollfd p{fd, events, 0};
    // ppoll takes the exact remaining time, so a sub-millisecond rest is
    // waited out instead of spun on.
    int n = ::ppoll(&p, 1, &ts, nullptr);
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
    if (deadline.expired()) return false;
  }
}

ConnectResult connect_before(const SocketAddress& addr, const Deadline& deadline) {
  ConnectResult res;
  UniqueFd fd(::socket(addr.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    res.error = std::strerror(errno);
    return res;
  }
  int rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr.storage), addr.length);
  // EINTR on a non-blocking connect leaves the handshake running, like EINPROGRESS.
  if (rc != 0 && errno != EINPROGRESS && errno != EINTR) {
    res.error = std::strerror(errno);
    return res;
  }
  if (rc != 0) {
    if (!wait_ready(fd.get(), POLLOUT, deadline)) {
      res.error = "connect timed out";
      return res;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
      res.error = std::strerror(err);
      return res;
    }
  }
  res.fd = std::move(fd);
  return res;
}

bool send_all(int fd, std::string_view data, const Deadline& deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_ready(fd, POLLOUT, deadline)) return false;
      continue;
    }
    return false;
  }
  return true;
}

ReadStatus read_some(int fd, std::string& out, size_t cap, const Deadline& deadline) {
  if (cap == 0) return ReadStatus::kData;
  size_t old = out.size();
  out.resize(old + cap);
  for (;;) {
    ssize_t n = ::recv(fd, out.data() + old, cap, 0);
    if (n > 0) {
      out.resize(old + static_cast<size_t>(n));
      return ReadStatus::kData;
    }
    if (n == 0) {
      out.resize(old);
      return ReadStatus::kEof;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (wait_ready(fd, POLLIN, deadline)) continue;
      out.resize(old);
      return ReadStatus::kTimeout;
    }
    out.resize(old);
    return ReadStatus::kError;
  }
}

}  // namespace corvale
