// `ss -H -tanp` / `-uanp` text: any bytes, read as both tables.
#include "fuzz_support.h"
#include "linux/sockets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  std::string_view text = fuzz::text_of(data, size);
  size_t lines = 1;
  for (char c : text) lines += c == '\n';
  for (bool tcp : {true, false}) {
    auto entries = parse_ss_output(text, tcp);
    fuzz::check(entries.size() <= lines, "at most one entry per line");
    auto merged = merge_socket_samples({entries, entries});
    fuzz::check(merged.size() <= entries.size(), "merging a sample with itself adds nothing");
    auto listening = listening_entries(merged);
    fuzz::check(listening.size() <= merged.size(), "listeners are a subset");
  }
  return 0;
}
