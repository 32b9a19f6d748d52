#include "main/language.h"

#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>

namespace corvale {
namespace {

constexpr const char* kDomain = "corvale";

std::string program_path() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? "" : p.string();
}

}  // namespace

std::vector<std::string> catalog_dirs(const std::string& program_path,
                                      const std::string& bin_to_localedir,
                                      const std::string& configured) {
  std::vector<std::string> dirs;
  if (!program_path.empty()) {
    std::filesystem::path bin = std::filesystem::path(program_path).parent_path();
    dirs.push_back((bin / "locale").lexically_normal().string());
    if (!bin_to_localedir.empty())
      dirs.push_back((bin / bin_to_localedir).lexically_normal().string());
  }
  dirs.push_back(configured);
  return dirs;
}

std::string pick_catalog_dir(const std::vector<std::string>& dirs,
                             const std::function<bool(const std::string&)>& is_dir) {
  for (const auto& d : dirs)
    if (is_dir(d)) return d;
  return dirs.empty() ? "" : dirs.back();
}

Translate user_language() {
  // A locale the system lacks leaves LC_MESSAGES at "C": English.
  if (!std::setlocale(LC_MESSAGES, "")) return {};
  std::string dir =
      pick_catalog_dir(catalog_dirs(program_path(), CORVALE_BIN_TO_LOCALEDIR, CORVALE_LOCALEDIR),
                       [](const std::string& d) {
                         std::error_code ec;
                         // Beside /usr/bin/corvale, "locale" is the locale program: a folder only.
                         return std::filesystem::is_directory(d, ec);
                       });
  if (!bindtextdomain(kDomain, dir.c_str())) return {};
  bind_textdomain_codeset(kDomain, "UTF-8");
  return [](const char* msgid) { return std::string(dgettext(kDomain, msgid)); };
}

}  // namespace corvale
