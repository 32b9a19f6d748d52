// The I/O halves of the collectors, run against the real commands and procfs
// of the test's own (isolated) namespace, and against fake programs on PATH.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "linux/adapters.h"
#include "linux/routes.h"
#include "linux/services.h"
#include "linux/sockets.h"
#include "test_support.h"
#include "util/fd.h"

namespace corvale {
namespace {

using testing::data_path;
using testing::FakeCommands;

// A fake `ip` answering from the captures of tests/data/linux.
void add_fake_ip(FakeCommands& fake) {
  std::string d = data_path("linux");
  fake.add("ip",
           "case \"$*\" in\n"
           "  '-d -j addr show'|'-j addr show') cat '" +
               d +
               "/ip_addr.json' ;;\n"
               "  '-j route show') cat '" +
               d +
               "/ip_route.json' ;;\n"
               "  '-j -6 route show') cat '" +
               d +
               "/ip6_route.json' ;;\n"
               "  'route get '*) cat '" +
               d +
               "/route_get_v4.txt' ;;\n"
               "  '-6 route get '*) cat '" +
               d +
               "/route_get_v6.txt' ;;\n"
               "  *) echo 'Command line is not complete.' >&2; exit 255 ;;\n"
               "esac");
}

uint16_t bound_port(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

UniqueFd loopback_socket(int type) {
  // Close-on-exec, or the spawned ss inherits the socket and is listed as its owner.
  UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return {};
  if (type == SOCK_STREAM && ::listen(fd.get(), 4) != 0) return {};
  return fd;
}

TEST(RealCommands, LoopbackAdapterAndLookup) {
  auto adapters = list_adapters();
  const Adapter* lo = nullptr;
  for (const auto& a : adapters)
    if (a.name == "lo") lo = &a;
  ASSERT_NE(lo, nullptr);
  EXPECT_EQ(lo->if_type, 24u);
  EXPECT_NE(lo->if_index, 0u);
  EXPECT_EQ(lo->link_speed_bps, 0u);  // loopback has no speed file value
  EXPECT_EQ(name_to_index().at("lo"), lo->if_index);

  auto lookup = route_lookup("127.0.0.1");
  ASSERT_TRUE(lookup);
  EXPECT_EQ(lookup->if_index, lo->if_index);
  EXPECT_EQ(lookup->source, "127.0.0.1");
  EXPECT_FALSE(lookup->via);
  EXPECT_EQ(lookup->family, kFamilyV4);
}

TEST(RealCommands, OwnSocketsAppearWithOurPid) {
  UniqueFd listener = loopback_socket(SOCK_STREAM);
  UniqueFd datagram = loopback_socket(SOCK_DGRAM);
  ASSERT_TRUE(listener.valid() && datagram.valid());
  uint32_t self = static_cast<uint32_t>(::getpid());

  auto tcp = collect_tcp_sockets();
  SocketEntry want{"127.0.0.1", bound_port(listener.get()), "0.0.0.0", 0, kTcpListen, self};
  EXPECT_NE(std::find(tcp.tcp_sockets.begin(), tcp.tcp_sockets.end(), want), tcp.tcp_sockets.end())
      << ::testing::PrintToString(tcp.tcp_sockets) << " want " << ::testing::PrintToString(want);
  EXPECT_NE(std::find(tcp.tcp_listeners.begin(), tcp.tcp_listeners.end(), want),
            tcp.tcp_listeners.end());
  for (const auto& l : tcp.tcp_listeners) EXPECT_EQ(l.state, kTcpListen);

  auto udp = collect_udp_sockets();
  SocketEntry want_udp{"127.0.0.1", bound_port(datagram.get()), "", 0, 0, self};
  EXPECT_NE(std::find(udp.begin(), udp.end(), want_udp), udp.end());
}

TEST(FakeCommands, TcpIsSampledThreeTimesAndMerged) {
  FakeCommands fake;
  std::string n = fake.dir() / "n";
  fake.add(
      "ss",
      "c=$(cat '" + n + "' 2>/dev/null || echo 0); c=$((c+1)); echo $c >'" + n +
          "'\n"
          "echo 'LISTEN 0 128 127.0.0.1:7890 0.0.0.0:* users:((\"mihomo\",pid=42,fd=7))'\n"
          "[ $c -eq 2 ] && echo 'SYN-SENT 0 1 10.0.0.2:40000 1.2.3.4:443 "
          "users:((\"mihomo\",pid=42,fd=9))'\n"
          "[ $c -ge 2 ] && echo 'ESTAB 0 0 10.0.0.2:40000 1.2.3.4:443 "
          "users:((\"mihomo\",pid=42,fd=9))'\n"
          "[ $c -eq 3 ] && echo 'LISTEN 0 128 [::]:9090 [::]:* users:((\"mihomo\",pid=42,fd=8))'\n"
          "date +%s%N >'" +
          fake.dir() / "last" +
          "'\n"
          "exit 0");
  auto start = std::chrono::steady_clock::now();
  TcpSockets r = collect_tcp_sockets();
  auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(fake.calls(), (std::vector<std::string>{"-H -tanp", "-H -tanp", "-H -tanp"}));
  std::vector<SocketEntry> want = {
      {"127.0.0.1", 7890, "0.0.0.0", 0, 2, 42},
      {"10.0.0.2", 40000, "1.2.3.4", 443, 3, 42},
      {"10.0.0.2", 40000, "1.2.3.4", 443, 5, 42},
      {"::", 9090, "::", 0, 2, 42},
  };
  EXPECT_EQ(r.tcp_sockets, want);
  EXPECT_EQ(r.tcp_listeners, (std::vector<SocketEntry>{want[0], want[3]}));
  EXPECT_GE(elapsed, std::chrono::milliseconds(360));  // two pauses
  EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST(FakeCommands, MissingOrFailingSsGivesNothing) {
  FakeCommands fake;
  fake.hide_real_programs();
  EXPECT_TRUE(collect_tcp_sockets().tcp_sockets.empty());
  EXPECT_TRUE(collect_udp_sockets().empty());

  // An error on standard error never becomes a table row.
  fake.add("ss", "echo 'Cannot open netlink socket: Protocol not supported' >&2\nexit 1");
  TcpSockets r = collect_tcp_sockets();
  EXPECT_TRUE(r.tcp_sockets.empty());
  EXPECT_TRUE(r.tcp_listeners.empty());
  EXPECT_TRUE(collect_udp_sockets().empty());
  EXPECT_EQ(fake.calls().back(), "-H -uanp");
}

TEST(FakeCommands, AdaptersRoutesAndLookups) {
  FakeCommands fake;
  add_fake_ip(fake);
  auto adapters = list_adapters();
  ASSERT_EQ(adapters.size(), 8u);
  EXPECT_EQ(adapters[7].name, "tun0");
  auto devices = build_device_records();
  EXPECT_EQ(devices.size(), 7u);

  auto names = name_to_index();
  EXPECT_EQ(names.at("tun0"), 8u);
  auto routes = read_all_routes(names);
  ASSERT_EQ(routes.size(), 9u + 11u);
  EXPECT_EQ(routes[8].family, kFamilyV4);
  EXPECT_EQ(routes[9].family, kFamilyV6);
  EXPECT_EQ(read_routes(names, kFamilyV6).size(), 11u);

  auto v6 = route_lookup("2400:3200::1");
  ASSERT_TRUE(v6);
  EXPECT_EQ(*v6, (RouteLookup{8, std::nullopt, "fdfe:dcba:9876::1", kFamilyV6}));
  auto v4 = route_lookup("223.5.5.5");
  ASSERT_TRUE(v4);
  EXPECT_EQ(v4->family, kFamilyV4);

  auto calls = fake.calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "-j -6 route show"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "-6 route get 2400:3200::1"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "route get 223.5.5.5"), calls.end());
}

// A target that `ip` would read as an option is never passed to it.
TEST(FakeCommands, LookupTargetIsNeverAnOption) {
  FakeCommands fake;
  add_fake_ip(fake);
  for (const char* target : {"-6", "-batch", "--help", "-", ""})
    EXPECT_FALSE(route_lookup(target)) << target;
  EXPECT_TRUE(fake.calls().empty());
}

TEST(FakeCommands, WithoutIpEverythingIsEmpty) {
  FakeCommands fake;
  fake.hide_real_programs();
  EXPECT_TRUE(list_adapters().empty());
  EXPECT_TRUE(build_device_records().empty());
  EXPECT_TRUE(name_to_index().empty());
  EXPECT_TRUE(read_all_routes({{"eth0", 2}}).empty());
  EXPECT_FALSE(route_lookup("223.5.5.5"));
}

TEST(FakeCommands, RunningServices) {
  FakeCommands fake;
  fake.add("systemctl", "cat '" + data_path("linux/systemctl_running.txt") + "'");
  auto units = list_running_services();
  EXPECT_EQ(units.size(), 12u);
  EXPECT_EQ(match_services(units).size(), 4u);
  EXPECT_EQ(fake.calls(), std::vector<std::string>{
                              "list-units --type=service --state=running --no-legend --plain "
                              "--no-pager"});
}

// Containers and WSL without systemd: the error message is not a unit list.
TEST(FakeCommands, SystemctlWithoutSystemd) {
  FakeCommands fake;
  fake.add("systemctl", "cat '" + data_path("linux/systemctl_error.txt") + "' >&2\nexit 1");
  EXPECT_TRUE(list_running_services().empty());
  fake.hide_real_programs();
  ::unlink((fake.dir() / "systemctl").c_str());
  EXPECT_TRUE(list_running_services().empty());
}

}  // namespace
}  // namespace corvale
