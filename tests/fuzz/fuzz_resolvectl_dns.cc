// `resolvectl dns` output: every link named has servers, each once, none
// empty and none spanning lines.
#include <set>

#include "fuzz_support.h"
#include "linux/dns_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  for (const auto& [link, servers] : parse_resolvectl_dns(fuzz::text_of(data, size))) {
    fuzz::check(!link.empty() && !servers.empty(), "a named link with servers", link);
    std::set<std::string> seen;
    for (const auto& s : servers) {
      fuzz::check(!s.empty() && seen.insert(s).second, "each server once, not empty", s);
      fuzz::check(s.find('\n') == std::string::npos, "one line per server", s);
    }
  }
  return 0;
}
