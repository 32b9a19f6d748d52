// Where the built and the installed program find their message catalogs.
#include "main/language.h"

#include <gtest/gtest.h>

#include <set>

namespace corvale {
namespace {

TEST(CatalogDir, BuildTreeThenInstalledBesideTheProgramThenConfigured) {
  struct Row {
    const char* name;
    std::string program;
    std::set<std::string> folders;  // what exists as a folder
    std::string want;
  } rows[] = {
      {"build tree",
       "/src/build/corvale",
       {"/src/build/locale", "/usr/local/share/locale"},
       "/src/build/locale"},
      {"package under /usr",
       "/usr/bin/corvale",
       {"/usr/share/locale", "/usr/local/share/locale"},
       "/usr/share/locale"},
      {"a scratch prefix", "/tmp/p/bin/corvale", {"/tmp/p/share/locale"}, "/tmp/p/share/locale"},
      {"nothing found", "/opt/x/corvale", {}, "/usr/local/share/locale"},
      {"program path unknown", "", {"/usr/share/locale"}, "/usr/local/share/locale"},
  };
  for (const auto& row : rows) {
    auto dirs = catalog_dirs(row.program, "../share/locale", "/usr/local/share/locale");
    auto got =
        pick_catalog_dir(dirs, [&](const std::string& d) { return row.folders.contains(d); });
    EXPECT_EQ(got, row.want) << row.name;
  }
}

}  // namespace
}  // namespace corvale
