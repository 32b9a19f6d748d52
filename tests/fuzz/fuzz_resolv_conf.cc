// resolv.conf text: name servers are unique, one-line, trimmed.
#include <set>

#include "fuzz_support.h"
#include "linux/dns_config.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  auto servers = parse_resolv_conf(fuzz::text_of(data, size));
  std::set<std::string> seen;
  for (const auto& s : servers) {
    fuzz::check(seen.insert(s).second, "each server once", s);
    fuzz::check(s.find('\n') == std::string::npos, "one line per server", s);
    fuzz::check(trim_view(s) == s, "trimmed", s);
  }
  return 0;
}
