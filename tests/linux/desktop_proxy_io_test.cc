// Reading the desktop user's proxy as root on their behalf (under sudo):
// the real gsettings reads the user's dconf database, and nothing root-owned
// appears in their home.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "linux/desktop_proxy.h"
#include "util/environment.h"

namespace corvale {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

struct Home {
  fs::path dir;
  explicit Home(const std::string& name) : dir(fs::temp_directory_path() / name) {
    fs::remove_all(dir);
    fs::create_directories(dir / ".config/dconf");
    fs::copy_file(fs::path(CORVALE_TEST_DATA) / "desktop_proxy/dconf-user-manual-7897",
                  dir / ".config/dconf/user");
    for (const auto& p : fs::recursive_directory_iterator(dir))
      EXPECT_EQ(::chown(p.path().c_str(), kNobody, kNobody), 0);
    EXPECT_EQ(::chown(dir.c_str(), kNobody, kNobody), 0);
  }
  ~Home() { fs::remove_all(dir); }
  // Paths in the home not owned by its user.
  std::vector<std::string> foreign() const {
    std::vector<std::string> out;
    for (const auto& p : fs::recursive_directory_iterator(dir)) {
      struct stat st {};
      if (::lstat(p.path().c_str(), &st) == 0 && st.st_uid != kNobody) out.push_back(p.path());
    }
    return out;
  }
};

TEST(DesktopProxyIo, UnderSudoTheUsersGnomeSettingIsReadAsTheUser) {
  ASSERT_EQ(geteuid(), 0u) << "this test plays sudo and needs root";
  ASSERT_EQ(access("/usr/share/glib-2.0/schemas/org.gnome.system.proxy.gschema.xml", R_OK), 0)
      << "gsettings-desktop-schemas is missing";
  Home home("corvale-desktop-proxy-home");
  DesktopUser user{kNobody, kNobody, home.dir.string(), (home.dir / ".config").string(), true};
  auto read = read_desktop_proxies(user);
  ASSERT_EQ(read.size(), 1u) << "gsettings did not answer (dconf-gsettings-backend missing?)";
  EXPECT_EQ(read[0].desktop, "GNOME");
  EXPECT_EQ(read[0].mode, DesktopProxy::Mode::kManual);
  ASSERT_EQ(read[0].servers.size(), 3u);
  EXPECT_EQ(read[0].servers[0].port, 7897);
  EXPECT_EQ(home.foreign(), std::vector<std::string>{});
}

TEST(DesktopProxyIo, SudoUidNamesTheDesktopUser) {
  ASSERT_EQ(geteuid(), 0u) << "this test plays sudo and needs root";
  struct Row {
    const char* variable;
    const char* sudo_uid;
    uid_t uid;
    bool drop;
  } rows[] = {{"SUDO_UID", "65534", kNobody, true},
              {"PKEXEC_UID", "65534", kNobody, true},
              {"SUDO_UID", "0", 0, false},
              {"SUDO_UID", "junk", 0, false},
              {"SUDO_UID", nullptr, 0, false}};
  for (const auto& r : rows) {
    std::map<std::string, std::string, std::less<>> vars = {{"HOME", "/root"}};
    if (r.sudo_uid) vars[r.variable] = r.sudo_uid;
    DesktopUser u = desktop_user(Environment(vars));
    EXPECT_EQ(u.uid, r.uid) << (r.sudo_uid ? r.sudo_uid : "unset");
    EXPECT_EQ(u.drop_root, r.drop) << (r.sudo_uid ? r.sudo_uid : "unset");
    EXPECT_EQ(u.home.empty(), false);
  }
}

}  // namespace
}  // namespace corvale
