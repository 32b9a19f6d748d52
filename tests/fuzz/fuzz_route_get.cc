// `ip route get` output, read as an IPv4 and an IPv6 lookup.
#include "fuzz_support.h"
#include "linux/routes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  static const NameToIndex kNames = {{"lo", 1}, {"enp3s0", 2}, {"wlp2s0", 3}, {"tun0", 4}};
  std::string_view text = fuzz::text_of(data, size);
  for (bool v6 : {false, true}) {
    auto r = parse_route_get(text, kNames, v6);
    if (!r) continue;
    fuzz::check(r->if_index >= 1 && r->if_index <= 4, "lookup names a known device");
    fuzz::check(r->family == (v6 ? kFamilyV6 : kFamilyV4), "family as asked");
    if (r->via) fuzz::check(!r->via->empty(), "via is a word", *r->via);
    if (r->source) fuzz::check(!r->source->empty(), "src is a word", *r->source);
  }
  return 0;
}
