#include "linux/sockets.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace corvale {
namespace {

using testing::read_data;

SocketEntry tcp(std::string la, uint16_t lp, std::string ra, uint16_t rp, uint8_t st,
                uint32_t pid) {
  return {std::move(la), lp, std::move(ra), rp, st, pid};
}

SocketEntry udp(std::string la, uint16_t lp, uint32_t pid) {
  return {std::move(la), lp, "", 0, 0, pid};
}

TEST(TcpState, Table) {
  struct Row {
    const char* text;
    uint8_t code;
  } rows[] = {
      {"LISTEN", 2},   {"ESTAB", 5},    {"ESTABLISHED", 5}, {"TIME-WAIT", 6},  {"CLOSE-WAIT", 8},
      {"SYN-SENT", 3}, {"SYN-RECV", 4}, {"FIN-WAIT-1", 7},  {"FIN-WAIT-2", 9}, {"LAST-ACK", 10},
      {"CLOSING", 11}, {"CLOSE", 1},    {"UNCONN", 0},      {"listen", 0},     {"LISTEN ", 0},
      {"", 0},         {"CLOSED", 0},   {"FIN-WAIT", 0},
  };
  for (const auto& r : rows) EXPECT_EQ(tcp_state_code(r.text), r.code) << r.text;
}

TEST(Endpoint, Forms) {
  struct Row {
    const char* field;
    const char* host;
    uint16_t port;
  } rows[] = {
      {"[::]:443", "::", 443},
      {"*:5353", "0.0.0.0", 5353},
      {"127.0.0.53%lo:53", "127.0.0.53", 53},
      {"[fe80::1]%eth0:546", "fe80::1", 546},  // how ss prints a scoped IPv6 socket
      {"[fe80::1%eth0]:22", "fe80::1", 22},
      {"[::1]:53", "::1", 53},
      {"[::ffff:127.0.0.1]:8080", "::ffff:127.0.0.1", 8080},
      {"0.0.0.0:*", "0.0.0.0", 0},
      {"*:*", "0.0.0.0", 0},
      {"[::]:*", "::", 0},
      {" 10.0.0.1:80 ", "10.0.0.1", 80},
      {"10.0.0.1:65535", "10.0.0.1", 65535},
      {"10.0.0.1:65536", "10.0.0.1", 0},
      {"10.0.0.1:-1", "10.0.0.1", 0},
      {"10.0.0.1:", "10.0.0.1", 0},
      {":80", "0.0.0.0", 80},
      {"[]:80", "0.0.0.0", 80},
      {"[:80", "[", 80},
      {"[a]b:80", "[a]b", 80},
      {"%lo:53", "0.0.0.0", 53},
      {"noport", "noport", 0},
      {"*", "0.0.0.0", 0},
      {"", "0.0.0.0", 0},
  };
  for (const auto& r : rows) {
    auto [host, port] = parse_endpoint(r.field);
    EXPECT_EQ(host, r.host) << r.field;
    EXPECT_EQ(port, r.port) << r.field;
  }
}

TEST(ParseSs, CapturedTcpTable) {
  auto entries = parse_ss_output(read_data("linux/ss_tcp.txt"), true);
  constexpr uint32_t kPid = 12066;
  std::vector<SocketEntry> want = {
      tcp("0.0.0.0", 9090, "0.0.0.0", 0, 2, kPid),
      tcp("127.0.0.1", 7890, "0.0.0.0", 0, 2, kPid),
      tcp("127.0.0.1", 49300, "127.0.0.1", 7890, 5, kPid),
      tcp("127.0.0.1", 7890, "127.0.0.1", 49300, 5, kPid),
      tcp("::", 8443, "::", 0, 2, kPid),
      tcp("::1", 8080, "::", 0, 2, kPid),
      tcp("0.0.0.0", 443, "0.0.0.0", 0, 2, kPid),
  };
  want.back().dual_stack = true;  // "*:443": a socket on :: that also takes IPv4
  EXPECT_EQ(entries, want);
  EXPECT_EQ(listening_entries(entries).size(), 5u);
}

TEST(ParseSs, CapturedUdpTable) {
  auto entries = parse_ss_output(read_data("linux/ss_udp.txt"), false);
  std::vector<SocketEntry> want = {
      udp("0.0.0.0", 5353, 12066),
      udp("127.0.0.53", 53, 12066),
      udp("::1", 53, 12066),
      udp("fe80::1", 546, 12066),
  };
  EXPECT_EQ(entries, want);
}

// A process named `x",pid=1,fd=3` must not pass its socket off as pid 1's.
TEST(ParseSs, ForgedOwnerInProcessName) {
  auto entries = parse_ss_output(read_data("linux/ss_tcp_forged_name.txt"), true);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].pid, 12146u);
  EXPECT_EQ(entries[0].local_port, 5555);
}

TEST(ParseSs, Owners) {
  struct Row {
    const char* line;
    uint32_t pid;
  } rows[] = {
      {"LISTEN 0 128 0.0.0.0:22 0.0.0.0:* users:((\"sshd\",pid=812,fd=3),(\"sshd\",pid=900,fd=3))",
       812},
      {"LISTEN 0 128 0.0.0.0:22 0.0.0.0:*", 0},
      {"LISTEN 0 128 0.0.0.0:22 0.0.0.0:* users:((\"x\",pid=99999999999,fd=3))", 0},
      {"LISTEN 0 128 0.0.0.0:22 0.0.0.0:* users:((\"x\",pid=,fd=3))", 0},
      {"LISTEN 0 128 0.0.0.0:22 0.0.0.0:* pid=77", 77},  // not the ss form: first pid= counts
      {"LISTEN 0 128 0.0.0.0:22 0.0.0.0:* users:((\"pid=5\",pid=6,fd=7))", 6},
      {"LISTEN 0 128 0.0.0.0:22 0.0.0.0:* users:((\"caf\xff\xfe\",pid=41,fd=3))", 41},
  };
  for (const auto& r : rows) {
    auto e = parse_ss_output(r.line, true);
    ASSERT_EQ(e.size(), 1u) << r.line;
    EXPECT_EQ(e[0].pid, r.pid) << r.line;
  }
}

TEST(ParseSs, ShortAndOddLines) {
  std::string text =
      "\n"
      "   \n"
      "LISTEN\n"
      "LISTEN 0 128 0.0.0.0:22\n"  // four fields
      "ESTAB 0 0 10.0.0.2:40000 93.184.216.34:443\r\n"
      "\tSYN-SENT   0   1   10.0.0.2:40001   [2001:db8::1]:443  \n";
  auto e = parse_ss_output(text, true);
  std::vector<SocketEntry> want = {
      tcp("10.0.0.2", 40000, "93.184.216.34", 443, 5, 0),
      tcp("10.0.0.2", 40001, "2001:db8::1", 443, 3, 0),
  };
  EXPECT_EQ(e, want);
  // UDP keeps the remote fields empty and the state 0 whatever the line says.
  auto u = parse_ss_output(text, false);
  ASSERT_EQ(u.size(), 2u);
  EXPECT_EQ(u[0], udp("10.0.0.2", 40000, 0));
}

// An error message in place of the table parses into entries that are never
// listeners, so nothing downstream takes them for a proxy port.
TEST(ParseSs, ErrorMessageInsteadOfTable) {
  auto e = parse_ss_output(
      "Cannot open netlink socket: Protocol not supported\n"
      "Failed to send dump request: Operation not permitted\n",
      true);
  ASSERT_EQ(e.size(), 2u);
  for (const auto& s : e) {
    EXPECT_EQ(s.state, 0);
    EXPECT_EQ(s.local_port, 0);
    EXPECT_EQ(s.pid, 0u);
  }
  EXPECT_TRUE(listening_entries(e).empty());
}

TEST(ParseSs, LargeTable) {
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += "ESTAB 0 0 10.0.0.2:" + std::to_string(20000 + i) +
            " 1.2.3.4:443 users:((\"firefox\",pid=" + std::to_string(1000 + i % 7) + ",fd=9))\n";
  auto e = parse_ss_output(text, true);
  ASSERT_EQ(e.size(), 20000u);
  EXPECT_EQ(e.back(), tcp("10.0.0.2", 39999, "1.2.3.4", 443, 5, 1000 + 19999 % 7));
}

TEST(MergeSamples, FirstSeenOrderAndDistinctKeys) {
  auto a = tcp("127.0.0.1", 7890, "0.0.0.0", 0, 2, 10);
  auto b = tcp("10.0.0.2", 40000, "1.2.3.4", 443, 3, 11);
  auto b_estab = tcp("10.0.0.2", 40000, "1.2.3.4", 443, 5, 11);
  auto c = tcp("10.0.0.2", 40002, "1.2.3.4", 443, 5, 11);
  auto c_other_pid = tcp("10.0.0.2", 40002, "1.2.3.4", 443, 5, 12);
  auto merged = merge_socket_samples({{a, b}, {a, b_estab, c}, {c, c_other_pid, a}});
  EXPECT_EQ(merged, (std::vector<SocketEntry>{a, b, b_estab, c, c_other_pid}));
  EXPECT_TRUE(merge_socket_samples({}).empty());
  EXPECT_EQ(merge_socket_samples({{a, a, a}}), std::vector<SocketEntry>{a});
}

// Entries whose fields, joined with '|', would give the same text are still
// different sockets.
TEST(MergeSamples, FieldsDoNotRunTogether) {
  auto x = tcp("a|1", 2, "r", 0, 0, 0);
  auto y = tcp("a", 1, "2|r", 0, 0, 0);
  EXPECT_EQ(merge_socket_samples({{x}, {y}}).size(), 2u);
}

TEST(Listeners, OnlyListeningState) {
  auto l1 = tcp("0.0.0.0", 22, "0.0.0.0", 0, 2, 1);
  auto l2 = tcp("::", 443, "::", 0, 2, 2);
  std::vector<SocketEntry> all = {l1, tcp("1.1.1.1", 1, "2.2.2.2", 2, 5, 3), l2,
                                  udp("0.0.0.0", 53, 4)};
  EXPECT_EQ(listening_entries(all), (std::vector<SocketEntry>{l1, l2}));
}

}  // namespace
}  // namespace corvale
