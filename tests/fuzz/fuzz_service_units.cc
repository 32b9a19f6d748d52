// `systemctl list-units --no-legend --plain` text.
#include "fuzz_support.h"
#include "linux/services.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  std::string_view text = fuzz::text_of(data, size);
  size_t lines = 1;
  for (char c : text) lines += c == '\n';
  auto units = parse_service_units(text);
  fuzz::check(units.size() <= lines, "at most one unit per line");
  auto hits = match_services(units);
  fuzz::check(hits.size() <= units.size(), "matches are a subset");
  return 0;
}
