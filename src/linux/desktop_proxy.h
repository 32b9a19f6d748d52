// Reads the desktop user's system proxy: GNOME's through the gsettings
// program, KDE's kioslaverc directly. Under sudo the user is the invoking
// one, and nothing is created in that user's home.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "facts/desktop_proxy.h"
#include "util/environment.h"

namespace corvale {

/// Whose desktop settings count: the invoking user under sudo, else us.
struct DesktopUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
  std::string config_dir;  // $XDG_CONFIG_HOME or ~/.config
  bool drop_root = false;  // we are root on the user's behalf: read as the user
};

/// The user from `env` (SUDO_UID or PKEXEC_UID when running as root, else
/// HOME and XDG_CONFIG_HOME), with the password database for the home directory.
DesktopUser desktop_user(const Environment& env);

/// The argument vector that runs `gsettings list-recursively` for `user`:
/// directly, or, as root for another user, through setpriv with that user's
/// ids and a fresh environment naming only their home and runtime directory,
/// so that dconf makes no root-owned file in their home.
std::vector<std::string> gsettings_command(const DesktopUser& user);

/// GNOME's and KDE's settings, each where it could be read.
std::vector<DesktopProxy> read_desktop_proxies(const DesktopUser& user);

}  // namespace corvale
