#include "linux/services.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace corvale {
namespace {

std::vector<std::string> names_of(const std::vector<ServiceEntry>& list) {
  std::vector<std::string> out;
  for (const auto& s : list) out.push_back(s.name);
  return out;
}

TEST(ServiceUnits, CapturedListing) {
  auto units = parse_service_units(testing::read_data("linux/systemctl_running.txt"));
  ASSERT_EQ(units.size(), 12u);
  EXPECT_EQ(units[0], (ServiceEntry{"accounts-daemon.service", "loaded", "Running", ""}));
  EXPECT_EQ(units[7], (ServiceEntry{"sing-box.service", "not-found", "Running", ""}));
  EXPECT_EQ(
      names_of(match_services(units)),
      (std::vector<std::string>{"clash-verge-service.service", "openvpn-client@campus.service",
                                "sing-box.service", "tailscaled.service"}));
}

TEST(ServiceUnits, MarkersAndShortLines) {
  struct Row {
    const char* line;
    const char* name;
    std::optional<std::string> load;
  } rows[] = {
      {"\u25CF foo.service loaded failed failed Foo", "foo.service", "loaded"},
      {"\u25CFbar.service loaded active running Bar", "bar.service", "loaded"},
      {"* baz.service masked", "baz.service", "masked"},
      {"  \u25CF \u25CF qux.service\u25CF loaded", "qux.service", "loaded"},
      {"solo.service", "solo.service", std::nullopt},
      {"\tcron.service\tloaded\tactive\r", "cron.service", "loaded"},
      {"caf\xff.service loaded", "caf\xff.service", "loaded"},
  };
  for (const auto& r : rows) {
    auto units = parse_service_units(r.line);
    ASSERT_EQ(units.size(), 1u) << r.line;
    EXPECT_EQ(units[0].name, r.name) << r.line;
    EXPECT_EQ(units[0].load_state, r.load) << r.line;
    EXPECT_EQ(units[0].status, "Running");
    EXPECT_EQ(units[0].path, "");
  }
  EXPECT_TRUE(parse_service_units("").empty());
  EXPECT_TRUE(parse_service_units("\n   \n\u25CF\n* \n").empty());
}

TEST(ServiceUnits, MatchOverNameLoadStateAndPath) {
  struct Row {
    ServiceEntry entry;
    bool hit;
  } rows[] = {
      {{"wg-quick@wg0.service", "loaded", "Running", ""}, false},
      {{"WireGuard.service", "loaded", "Running", ""}, true},
      {{"warp-svc.service", "loaded", "Running", ""}, true},
      {{"sing_box.service", std::nullopt, "Running", ""}, true},
      {{"NetworkManager.service", "loaded", "Running", ""}, false},
      {{"odd.service", "Clash", "Running", ""}, true},
      {{"odd.service", std::nullopt, "Running", "/opt/zerotier-one"}, true},
      {{"dbus.service", "loaded", "Running", ""}, false},
  };
  for (const auto& r : rows)
    EXPECT_EQ(match_services({r.entry}).size(), r.hit ? 1u : 0u) << r.entry.name;
}

}  // namespace
}  // namespace corvale
