// The user's language for the findings: glibc's gettext with corvale's own
// message catalogs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "facts/phrase.h"

namespace corvale {

/// The folders that may hold the catalogs (`LANG/LC_MESSAGES/corvale.mo`),
/// first wins: `locale/` beside the program (a build tree), the installed
/// locale folder relative to the program (so a package installed under any
/// prefix finds its own), then the folder configured at build time.
std::vector<std::string> catalog_dirs(const std::string& program_path,
                                      const std::string& bin_to_localedir,
                                      const std::string& configured);

/// The first of `dirs` that `is_dir` accepts; the last one when none does.
std::string pick_catalog_dir(const std::vector<std::string>& dirs,
                             const std::function<bool(const std::string&)>& is_dir);

/// The translator of the user's locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG
/// in gettext's order). Sets LC_MESSAGES only: numbers, sorting and character
/// classes stay the C locale's, so outputs stay byte-identical. Call before
/// any thread starts.
Translate user_language();

}  // namespace corvale
