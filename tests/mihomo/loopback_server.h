// A crafted TCP peer on the loopback address for client tests: every accepted
// connection gets its own thread, reads the request head and hands the socket
// to the test's handler. Run the tests inside an isolated network namespace.
#pragma once

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace corvale::test_peers {

/// True inside a network namespace that holds nothing but lo: tests that open
/// sockets skip themselves elsewhere, so they never touch the host's network.
inline bool isolated_network() {
  struct if_nameindex* list = ::if_nameindex();
  if (list == nullptr) return false;
  bool only_lo = true;
  for (struct if_nameindex* i = list; i->if_index != 0; ++i)
    if (std::string_view(i->if_name) != "lo") only_lo = false;
  ::if_freenameindex(list);
  return only_lo;
}

class LoopbackServer {
 public:
  /// Called with the connected socket and what the client sent before its
  /// blank line (or before it stopped sending).
  using Handler = std::function<void(int fd, const std::string& request, const LoopbackServer& self)>;

  /// With `wait_for_head` false the handler runs as soon as a client connects
  /// (peers of binary protocols such as SOCKS5).
  explicit LoopbackServer(Handler handler, bool ipv6 = false, bool wait_for_head = true)
      : handler_(std::move(handler)), wait_for_head_(wait_for_head) {
    listen_fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (ipv6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = in6addr_loopback;
      ok_ = ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ok_ = ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ok_ = ok_ && ::listen(listen_fd_, 64) == 0;
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&bound), &len);
    port_ = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                 : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
  }

  ~LoopbackServer() {
    stopping_ = true;
    acceptor_.join();
    for (auto& t : workers_) t.join();
    ::close(listen_fd_);
  }

  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool ok() const { return ok_; }
  uint16_t port() const { return port_; }
  bool stopping() const { return stopping_; }
  std::vector<std::string> requests() const {
    std::lock_guard lock(mu_);
    return requests_;
  }
  size_t accepted() const { return accepted_; }

  static void write_all(int fd, std::string_view data) {
    while (!data.empty()) {
      ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return;
      data.remove_prefix(static_cast<size_t>(n));
    }
  }

  /// Sleeps up to `ms`, returning early when the server shuts down.
  void idle(int ms) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping_ && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  /// A handler that answers every request with one fixed reply.
  static Handler reply(std::string raw) {
    return [raw](int fd, const std::string&, const LoopbackServer&) { write_all(fd, raw); };
  }

 private:
  void accept_loop() {
    while (!stopping_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++accepted_;
      workers_.emplace_back([this, fd] {
        std::string request = wait_for_head_ ? read_head(fd) : std::string();
        {
          std::lock_guard lock(mu_);
          requests_.push_back(request);
        }
        handler_(fd, request, *this);
        ::close(fd);
      });
    }
  }

  std::string read_head(int fd) const {
    std::string out;
    char buf[1024];
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (out.find("\r\n\r\n") == std::string::npos && out.size() < 65536 && !stopping_ &&
           std::chrono::steady_clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }

  Handler handler_;
  bool wait_for_head_ = true;
  int listen_fd_ = -1;
  bool ok_ = false;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> accepted_{0};
  std::thread acceptor_;
  std::vector<std::thread> workers_;  // touched only by the acceptor until it is joined
  mutable std::mutex mu_;
  std::vector<std::string> requests_;
};

}  // namespace corvale::test_peers
