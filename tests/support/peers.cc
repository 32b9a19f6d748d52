#include "peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "probe/probe.h"

extern char** environ;

namespace corvale::testing {
namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point until) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for `events` on fd; false on stop, time-out or error.
bool wait_for(int fd, short events, int stop_fd, Clock::time_point until) {
  for (;;) {
    pollfd p[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
    int n = ::poll(p, 2, ms_left(until));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || p[1].revents) return false;
    return true;
  }
}

void make_pipe(UniqueFd& r, UniqueFd& w) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) == 0) {
    r.reset(fds[0]);
    w.reset(fds[1]);
  }
}

std::optional<sockaddr_storage> make_addr(const std::string& address, uint16_t port,
                                          socklen_t& len) {
  sockaddr_storage ss{};
  if (address.find(':') != std::string::npos) {
    auto* s6 = reinterpret_cast<sockaddr_in6*>(&ss);
    s6->sin6_family = AF_INET6;
    s6->sin6_port = htons(port);
    if (inet_pton(AF_INET6, address.c_str(), &s6->sin6_addr) != 1) return std::nullopt;
    len = sizeof(sockaddr_in6);
  } else {
    auto* s4 = reinterpret_cast<sockaddr_in*>(&ss);
    s4->sin_family = AF_INET;
    s4->sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &s4->sin_addr) != 1) return std::nullopt;
    len = sizeof(sockaddr_in);
  }
  return ss;
}

uint16_t bound_port(int fd) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
  if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

}  // namespace

bool isolated_network() {
  struct if_nameindex* list = ::if_nameindex();
  if (!list) return false;
  bool only_lo = true;
  for (struct if_nameindex* i = list; i->if_index != 0; ++i)
    if (std::strcmp(i->if_name, "lo") != 0) only_lo = false;
  ::if_freenameindex(list);
  return only_lo;
}

bool suite_owns_namespace() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' && std::strcmp(v, "false") != 0 && std::strcmp(v, "0") != 0;
  };
  return set("CORVALE_SUITE") || set("CI");
}

std::string PeerConn::read_until(std::string_view terminator, size_t max_bytes, int wait_ms) {
  std::string got;
  auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
  char buf[4096];
  while (got.size() < max_bytes && got.find(terminator) == std::string::npos) {
    if (!wait_for(fd_, POLLIN, stop_fd_, until)) break;
    ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, max_bytes - got.size()), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

std::string PeerConn::read_exactly(size_t n, int wait_ms) {
  std::string got;
  auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
  char buf[256];
  while (got.size() < n) {
    if (!wait_for(fd_, POLLIN, stop_fd_, until)) break;
    ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  return got;
}

std::string PeerConn::read_head(int wait_ms) {
  std::string head = read_until("\r\n\r\n", 65536, wait_ms);
  if (log_) log_->add(head);
  return head;
}

void RequestLog::add(std::string head) {
  std::lock_guard g(lock_);
  heads_.push_back(std::move(head));
}

std::vector<std::string> RequestLog::all() const {
  std::lock_guard g(lock_);
  return heads_;
}

bool PeerConn::send(std::string_view data) {
  size_t sent = 0;
  auto until = Clock::now() + std::chrono::seconds(10);
  while (sent < data.size()) {
    if (!wait_for(fd_, POLLOUT, stop_fd_, until)) return false;
    ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void PeerConn::wait_client_close(int wait_ms) {
  auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
  char buf[4096];
  while (wait_for(fd_, POLLIN, stop_fd_, until)) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return;
  }
}

bool PeerConn::pause(int ms) {
  pollfd p{stop_fd_, POLLIN, 0};
  return ::poll(&p, 1, ms) == 0;
}

void StreamPeer::serve(UniqueFd listening) {
  listen_ = std::move(listening);
  make_pipe(stop_read_, stop_write_);
  thread_ = std::thread([this] { run(); });
}

void StreamPeer::stop() {
  if (!thread_.joinable()) return;
  (void)!::write(stop_write_.get(), "x", 1);
  thread_.join();
}

void StreamPeer::run() {
  for (;;) {
    pollfd p[2] = {{listen_.get(), POLLIN, 0}, {stop_read_.get(), POLLIN, 0}};
    int n = ::poll(p, 2, 30000);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || p[1].revents) return;
    UniqueFd conn(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!conn.valid()) continue;
    accepted_.fetch_add(1);
    PeerConn c(conn.get(), stop_read_.get(), &log_);
    handler_(c);
  }
}

TcpPeer::TcpPeer(Handler handler, std::string address, uint16_t port)
    : StreamPeer(std::move(handler)) {
  socklen_t len = 0;
  auto addr = make_addr(address, port, len);
  if (!addr) return;
  UniqueFd fd(::socket(addr->ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&*addr), len) != 0 ||
      ::listen(fd.get(), 16) != 0)
    return;
  port_ = bound_port(fd.get());
  serve(std::move(fd));
}

UnixPeer::UnixPeer(Handler handler) : StreamPeer(std::move(handler)) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "corvale-unix-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return;
  dir_ = tmpl;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string p = path();
  if (p.size() >= sizeof addr.sun_path) return;
  p.copy(addr.sun_path, p.size());
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd.get(), 16) != 0)
    return;
  serve(std::move(fd));
}

UnixPeer::~UnixPeer() {
  stop();
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

UdpPeer::UdpPeer(Reply reply, std::string address, uint16_t port) : reply_(std::move(reply)) {
  socklen_t len = 0;
  auto addr = make_addr(address, port, len);
  if (!addr) return;
  // A resolver of an earlier test in this namespace may still hold the port.
  auto until = Clock::now() + std::chrono::seconds(3);
  for (;;) {
    UniqueFd fd(::socket(addr->ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&*addr), len) == 0) {
      sock_ = std::move(fd);
      break;
    }
    if (Clock::now() >= until) return;
    ::usleep(50000);
  }
  make_pipe(stop_read_, stop_write_);
  thread_ = std::thread([this] { run(); });
}

UdpPeer::~UdpPeer() {
  if (!thread_.joinable()) return;
  (void)!::write(stop_write_.get(), "x", 1);
  thread_.join();
}

std::vector<std::string> UdpPeer::queries() const {
  std::lock_guard g(lock_);
  return queries_;
}

void UdpPeer::run() {
  char buf[4096];
  for (;;) {
    pollfd p[2] = {{sock_.get(), POLLIN, 0}, {stop_read_.get(), POLLIN, 0}};
    int n = ::poll(p, 2, 30000);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || p[1].revents) return;
    sockaddr_storage from{};
    socklen_t from_len = sizeof from;
    ssize_t got =
        ::recvfrom(sock_.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
    if (got < 0) continue;
    std::string_view query(buf, static_cast<size_t>(got));
    {
      std::lock_guard g(lock_);
      queries_.emplace_back(query);
    }
    if (auto r = reply_(query))
      ::sendto(sock_.get(), r->data(), r->size(), 0, reinterpret_cast<sockaddr*>(&from), from_len);
  }
}

namespace {
std::string request_path(std::string_view request) {
  auto sp1 = request.find(' ');
  if (sp1 == std::string_view::npos) return {};
  auto sp2 = request.find(' ', sp1 + 1);
  return std::string(request.substr(sp1 + 1, sp2 == std::string_view::npos ? sp2 : sp2 - sp1 - 1));
}
}  // namespace

HttpStandIn::HttpStandIn(Reply reply, std::string address)
    : reply_(std::move(reply)),
      peer_(
          [this](PeerConn& c) {
            std::string req = c.read_head(3000);
            c.send(reply_(request_path(req)));
          },
          std::move(address)) {}

TcpPeer::Handler fixed_reply(std::string raw) {
  return [raw = std::move(raw)](PeerConn& c) {
    c.read_head();
    c.send(raw);
  };
}

std::vector<std::string> HttpStandIn::paths() const {
  std::vector<std::string> out;
  for (const auto& r : requests()) out.push_back(request_path(r));
  return out;
}

std::string http_reply(std::string_view status_line, std::string_view headers,
                       std::string_view body) {
  return "HTTP/1.0 " + std::string(status_line) + "\r\n" + std::string(headers) + "\r\n" +
         std::string(body);
}

std::string fresh_loopback_v4() {
  static std::atomic<int> next{1};
  unsigned pid = static_cast<unsigned>(::getpid());
  return "127." + std::to_string(1 + (pid >> 8) % 250) + "." + std::to_string(pid & 0xFF) + "." +
         std::to_string(1 + next.fetch_add(1) % 250);
}

uint16_t closed_port() {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  socklen_t len = 0;
  auto addr = make_addr("127.0.0.1", 0, len);
  ::bind(fd.get(), reinterpret_cast<sockaddr*>(&*addr), len);
  return bound_port(fd.get());  // closed when fd goes out of scope, never listened on
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&fa);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 40; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    ::usleep(50000);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

std::string program_path(const std::string& name) {
  const char* env = std::getenv("PATH");
  std::string dirs = std::string(env ? env : "/usr/bin:/bin") + ":/usr/sbin:/sbin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string cand = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(cand.c_str(), X_OK) == 0) return cand;
    start = end + 1;
  }
  return {};
}

bool wait_for_listener(const std::string& host, uint16_t port, int wait_ms) {
  auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
  while (Clock::now() < until) {
    if (tcp_connect(host, port, 200).ok()) return true;
    ::usleep(20000);
  }
  return false;
}

}  // namespace corvale::testing
