// `ip -j route show` / `ip -j -6 route show` output, read as both families.
#include "fuzz_support.h"
#include "linux/routes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  static const NameToIndex kNames = {{"lo", 1}, {"enp3s0", 2}, {"wlp2s0", 3}, {"tun0", 4}};
  std::string_view text = fuzz::text_of(data, size);
  for (uint16_t family : {kFamilyV4, kFamilyV6}) {
    for (const auto& r : parse_routes_json(text, kNames, family))
      fuzz::check(r.if_index >= 1 && r.if_index <= 4, "route on a known device");
  }
  fuzz::check(parse_routes_json(text, {}, kFamilyV4).empty(), "no devices, no routes");
  return 0;
}
