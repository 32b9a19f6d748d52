// `ip -j addr show` output: any bytes, including broken and non-UTF-8 JSON.
// Each adapter comes from one object of the input and has a name; its MAC is
// upper-case; every device record belongs to an adapter's MAC.
#include <algorithm>
#include <set>

#include "fuzz_support.h"
#include "linux/adapters.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  std::string_view text = fuzz::text_of(data, size);
  auto adapters = parse_ip_addr_json(text, {"10.0.32.32", "::1"});
  fuzz::check(adapters.size() <= static_cast<size_t>(std::count(text.begin(), text.end(), '{')),
              "more adapters than objects");
  std::set<std::string> macs;
  for (const auto& a : adapters) {
    fuzz::check(!a.name.empty() && a.description == a.name, "adapter without its name", a.name);
    fuzz::check(to_upper(a.mac_address) == a.mac_address, "MAC not upper-case", a.mac_address);
    fuzz::check(a.dns_servers.size() == 2, "dns servers copied");
    macs.insert(a.mac_address);
  }
  for (const auto& [mac, record] : device_records_for(adapters))
    fuzz::check(!mac.empty() && macs.contains(mac), "device record for no adapter", mac);
  return 0;
}
