#include "linux/desktop_proxy.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "util/command.h"
#include "util/file.h"
#include "util/text.h"

namespace corvale {

namespace {

// gsettings reads dconf's file in a few milliseconds; a stuck one must not
// hold up the run.
constexpr std::chrono::milliseconds kGsettingsLimit{1500};
constexpr size_t kKioslavercBytes = 256u << 10;

std::optional<std::string> passwd_home(uid_t uid, gid_t* gid) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found || !pw.pw_dir)
    return std::nullopt;
  if (gid) *gid = pw.pw_gid;
  return std::string(pw.pw_dir);
}

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

DesktopUser desktop_user(const Environment& env) {
  DesktopUser u;
  u.uid = geteuid();
  u.gid = getegid();
  // sudo and pkexec both name the user who asked for root.
  std::string asked_by = env.get("SUDO_UID").value_or(env.get("PKEXEC_UID").value_or(""));
  if (u.uid == 0)
    if (auto invoker = parse_uint<uid_t>(asked_by); invoker && *invoker)
      if (auto home = passwd_home(*invoker, &u.gid)) {
        u.uid = *invoker;
        u.home = *home;
        u.config_dir = u.home + "/.config";
        u.drop_root = true;
        return u;
      }
  u.home = env.get("HOME").value_or("");
  if (u.home.empty()) u.home = passwd_home(u.uid, nullptr).value_or("");
  u.config_dir = env.get("XDG_CONFIG_HOME").value_or("");
  if (u.config_dir.empty() && !u.home.empty()) u.config_dir = u.home + "/.config";
  return u;
}

std::vector<std::string> gsettings_command(const DesktopUser& user) {
  std::vector<std::string> query = {"gsettings", "list-recursively", "org.gnome.system.proxy"};
  if (!user.drop_root) return query;
  std::vector<std::string> argv = {"setpriv",
                                   "--reuid=" + std::to_string(user.uid),
                                   "--regid=" + std::to_string(user.gid),
                                   "--init-groups",
                                   "--",
                                   "env",
                                   "-i",
                                   "HOME=" + user.home,
                                   "PATH=/usr/bin:/bin"};
  // dconf keeps its shared-memory flag in the runtime directory; the
  // desktop session's own one, where it exists, leaves the home untouched.
  std::string runtime = "/run/user/" + std::to_string(user.uid);
  if (is_directory(runtime)) argv.push_back("XDG_RUNTIME_DIR=" + runtime);
  argv.insert(argv.end(), query.begin(), query.end());
  return argv;
}

std::vector<DesktopProxy> read_desktop_proxies(const DesktopUser& user) {
  std::vector<DesktopProxy> out;
  std::vector<std::string> argv = gsettings_command(user);
  CommandResult r =
      run_command(argv[0], std::vector<std::string>(argv.begin() + 1, argv.end()), kGsettingsLimit);
  if (r.exit_status == 0)
    if (auto gnome = parse_gsettings_proxy(decode_utf8_lossy(r.out)))
      out.push_back(std::move(*gnome));
  if (!user.config_dir.empty())
    if (auto text = read_file(user.config_dir + "/kioslaverc", kKioslavercBytes))
      if (auto kde = parse_kioslaverc(decode_utf8_lossy(*text))) out.push_back(std::move(*kde));
  return out;
}

}  // namespace corvale
