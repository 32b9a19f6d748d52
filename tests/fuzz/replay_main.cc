// Feeds every file of the given corpus directories (or single files) to the
// fuzz target once, so the committed corpus is replayed by an ordinary test
// under any compiler. Fails when it finds no input at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path& arg) {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  if (std::filesystem::is_directory(arg, ec)) {
    for (const auto& e : std::filesystem::directory_iterator(arg, ec))
      if (e.is_regular_file(ec)) out.push_back(e.path());
    std::sort(out.begin(), out.end());
  } else if (std::filesystem::is_regular_file(arg, ec)) {
    out.push_back(arg);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& path : inputs_of(argv[i])) {
      std::ifstream in(path, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 2;
      }
      std::fprintf(stderr, "%s\n", path.c_str());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
  }
  std::printf("replayed %zu input(s)\n", count);
  return count > 0 ? 0 : 1;
}
