// The committed test data (tests/data): one reader for every test program.
// Needs CORVALE_TEST_DATA.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace corvale::testing {

inline std::string data_path(const std::string& rel) {
  return std::string(CORVALE_TEST_DATA) + "/" + rel;
}

/// The whole file at tests/data/`rel`, as bytes; empty when it is missing.
inline std::string read_data(const std::string& rel) {
  std::ifstream in(data_path(rel), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace corvale::testing
