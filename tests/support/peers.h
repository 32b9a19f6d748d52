// Crafted loopback peers for socket-level tests: each runs on its own thread,
// serves connections one after another and stops when the peer is destroyed.
// Every wait is bounded, so a test can never hang on its own peer.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "util/fd.h"

namespace corvale::testing {

/// True when this network namespace has nothing but the loopback device, so
/// no probe can leave the machine. Socket tests skip anywhere else.
bool isolated_network();

/// True under `./dev test` (CORVALE_SUITE) and in CI (CI set, not "false" or
/// "0"): the suite made its own empty namespace there, so a socket test that
/// finds none must fail rather than skip.
bool suite_owns_namespace();

#define REQUIRE_ISOLATED_NETWORK()                                                 \
  if (::corvale::testing::isolated_network()) {                                    \
  } else if (::corvale::testing::suite_owns_namespace())                           \
    FAIL() << "the suite runs in an empty network namespace, but this one is not"; \
  else                                                                             \
    GTEST_SKIP() << "probes run only inside `unshare --net` with lo up"

/// Request heads read by a peer's handlers, in arrival order.
class RequestLog {
 public:
  void add(std::string head);
  std::vector<std::string> all() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::string> heads_;
};

/// One accepted connection, as the handler sees it.
class PeerConn {
 public:
  PeerConn(int fd, int stop_fd, RequestLog* log = nullptr)
      : fd_(fd), stop_fd_(stop_fd), log_(log) {}
  /// Reads until `terminator` has arrived (or `max_bytes`, EOF, stop, `wait_ms`).
  std::string read_until(std::string_view terminator, size_t max_bytes = 65536, int wait_ms = 3000);
  std::string read_exactly(size_t n, int wait_ms = 3000);
  /// Reads a request head (through its blank line, or whatever came before
  /// the client stopped sending) and records it in the peer's `requests()`.
  std::string read_head(int wait_ms = 2000);
  /// False once the client is gone.
  bool send(std::string_view data);
  /// Waits until the client closes or the peer stops, at most `wait_ms`.
  void wait_client_close(int wait_ms = 10000);
  /// Sleeps `ms`, returning early (false) when the peer is stopping.
  bool pause(int ms);
  int fd() const { return fd_; }

 private:
  int fd_;
  int stop_fd_;
  RequestLog* log_;
};

/// Serves the connections of one listening stream socket, one after another,
/// on its own thread until the peer is destroyed.
class StreamPeer {
 public:
  using Handler = std::function<void(PeerConn&)>;
  StreamPeer(const StreamPeer&) = delete;
  StreamPeer& operator=(const StreamPeer&) = delete;

  bool ok() const { return listen_.valid(); }
  int accepted() const { return accepted_.load(); }
  /// Heads read with `PeerConn::read_head`, in order.
  std::vector<std::string> requests() const { return log_.all(); }

 protected:
  explicit StreamPeer(Handler handler) : handler_(std::move(handler)) {}
  ~StreamPeer() { stop(); }
  /// Starts serving a bound, listening socket.
  void serve(UniqueFd listening);
  /// Stops serving and joins the thread; later calls do nothing.
  void stop();

 private:
  void run();
  Handler handler_;
  RequestLog log_;
  UniqueFd listen_;
  UniqueFd stop_read_, stop_write_;
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

class TcpPeer : public StreamPeer {
 public:
  /// Listens on `address` ("127.0.0.1", "::1"), port 0 picks a free one.
  explicit TcpPeer(Handler handler, std::string address = "127.0.0.1", uint16_t port = 0);
  uint16_t port() const { return port_; }

 private:
  uint16_t port_ = 0;
};

/// A unix stream socket `path()` listening alone in a fresh temporary
/// directory `dir()`, which is removed with the peer.
class UnixPeer : public StreamPeer {
 public:
  explicit UnixPeer(Handler handler);
  ~UnixPeer();
  const std::string& dir() const { return dir_; }
  std::string path() const { return dir_ + "/ctl.sock"; }

 private:
  std::string dir_;
};

/// A minimal web server: records each request and answers with
/// `reply(path)`, then closes.
class HttpStandIn {
 public:
  using Reply = std::function<std::string(const std::string& path)>;
  explicit HttpStandIn(Reply reply, std::string address = "127.0.0.1");
  uint16_t port() const { return peer_.port(); }
  int accepted() const { return peer_.accepted(); }
  bool ok() const { return peer_.ok(); }
  std::vector<std::string> requests() const { return peer_.requests(); }
  /// Paths of the requests, in order.
  std::vector<std::string> paths() const;

 private:
  Reply reply_;
  TcpPeer peer_;
};

/// A handler that reads the request head and answers with `raw`, whatever was asked.
TcpPeer::Handler fixed_reply(std::string raw);

/// "HTTP/1.0 {status_line}\r\n{headers}\r\n{body}".
std::string http_reply(std::string_view status_line, std::string_view headers,
                       std::string_view body);

/// A UDP server on port 53: every datagram goes through `reply`; nothing
/// means stay silent. Binding retries for a while if the port is busy.
class UdpPeer {
 public:
  using Reply = std::function<std::optional<std::string>(std::string_view query)>;
  UdpPeer(Reply reply, std::string address, uint16_t port = 53);
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  bool ok() const { return sock_.valid(); }
  std::vector<std::string> queries() const;

 private:
  void run();
  Reply reply_;
  UniqueFd sock_;
  UniqueFd stop_read_, stop_write_;
  mutable std::mutex lock_;
  std::vector<std::string> queries_;
  std::thread thread_;
};

/// A distinct loopback address per call (127.P.P.n), so that resolvers of
/// parallel test processes do not fight over port 53.
std::string fresh_loopback_v4();

/// A port on 127.0.0.1 that nobody listens on.
uint16_t closed_port();

/// A program started for a test and killed (by its own pid) when done.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

/// Full path of an installed program (PATH, then the sbin folders); empty when missing.
std::string program_path(const std::string& name);
/// Waits (bounded) until something accepts on host:port.
bool wait_for_listener(const std::string& host, uint16_t port, int wait_ms = 3000);

}  // namespace corvale::testing
