#include "facts/lookup.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

// The rows of both speed formats this replaces (console and report) agree.
TEST(SpeedText, Units) {
  struct Case {
    uint64_t bps;
    const char* text;
  } cases[] = {
      {0, "0 bps"},
      {1, "1 bps"},
      {999, "999 bps"},
      {1000, "1 Kbps"},
      {1500, "1.5 Kbps"},
      {1000000, "1 Mbps"},
      {10'000'000, "10 Mbps"},
      {100'000'000, "100 Mbps"},
      {1'000'000'000, "1 Gbps"},
      {2'500'000'000, "2.5 Gbps"},
      {10'000'000'000'000, "10 Tbps"},
      {40'000'000'000'000, "40 Tbps"},
      {1'234'567, "1.2 Mbps"},
  };
  for (const auto& c : cases) EXPECT_EQ(speed_text(c.bps), c.text) << c.bps;
}

// One rule for the candidates, the graph and the findings. "*" stands for a
// dual-stack socket, as ss shows it (the record keeps "0.0.0.0" for it).
TEST(ListenerAccepts, Rule) {
  std::set<std::string> local = {"192.168.1.5", "2001:db8::5"};
  struct Row {
    const char* host;
    const char* listener;
    bool match;
  } rows[] = {
      {"127.0.0.1", "127.0.0.1", true},
      {"LOCALHOST", "127.0.0.1", true},
      {"localhost", "::1", true},
      {"[::1]", "::1", true},
      {"127.0.0.1", "::1", false},  // 127.0.0.1 reaches only itself
      {"127.0.0.2", "127.0.0.1", false},
      {"::ffff:127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "0.0.0.0", true},
      {"127.0.0.9", "0.0.0.0", true},
      {"localhost", "0.0.0.0", true},
      {"192.168.1.5", "0.0.0.0", true},
      {"::1", "0.0.0.0", false},  // HTTP_PROXY=http://[::1]:7890 is refused
      {"2001:db8::5", "0.0.0.0", false},
      {"2001:db8::5", "::", true},
      {"::1", "::", true},
      {"localhost", "::", true},
      {"192.168.1.5", "::", false},  // ss shows [::] only for IPv6-only sockets
      {"127.0.0.1", "::", false},
      {"127.0.0.1", "*", true},
      {"::1", "*", true},
      {"localhost", "*", true},
      {"2001:db8::5", "*", true},
      {"192.168.1.5", "*", true},
      {"203.0.113.9", "*", false},
      {"192.168.1.5", "192.168.1.5", true},
      {"192.168.1.5", "127.0.0.1", false},
      {"203.0.113.9", "0.0.0.0", false},
      {"proxy.corp", "0.0.0.0", false},  // an unresolved name reaches nothing
      {"0.0.0.0", "127.0.0.1", false},
      {"0.0.0.0", "0.0.0.0", true},
      {"", "0.0.0.0", false},
  };
  for (const auto& r : rows) {
    bool dual = std::string_view(r.listener) == "*";
    SocketEntry l{dual ? "0.0.0.0" : r.listener, 7890, "", 0, kTcpListen, 1, dual};
    EXPECT_EQ(listener_accepts(l, r.host, 7890, local), r.match) << r.host << " vs " << r.listener;
    EXPECT_FALSE(listener_accepts(l, r.host, 7891, local)) << r.host << " vs " << r.listener;
  }
}

// A name is tried at every address the caller resolved it to.
TEST(ListenerAccepts, ResolvedName) {
  SocketEntry v6{"::1", 8080, "", 0, kTcpListen, 1};
  EXPECT_FALSE(listener_accepts(v6, "proxy.lan", 8080, {}));
  EXPECT_FALSE(listener_accepts(v6, "proxy.lan", 8080, {}, {"127.0.0.1"}));
  EXPECT_TRUE(listener_accepts(v6, "proxy.lan", 8080, {}, {"127.0.0.1", "::1"}));
}

}  // namespace
}  // namespace corvale
