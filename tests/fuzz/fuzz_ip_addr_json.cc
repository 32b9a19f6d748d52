// `ip -j addr show` output: any bytes, including broken and non-UTF-8 JSON.
#include "fuzz_support.h"
#include "linux/adapters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  auto adapters = parse_ip_addr_json(fuzz::text_of(data, size), {"10.0.32.32", "::1"});
  for (const auto& a : adapters) fuzz::check(a.dns_servers.size() == 2, "dns servers copied");
  device_records_for(adapters);
  return 0;
}
