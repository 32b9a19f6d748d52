// A reply to the HTTP CONNECT probe: the verdict is one of four texts.
#include "fuzz_support.h"
#include "probe/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  std::string v = connect_verdict(fuzz::text_of(data, size));
  fuzz::check(v.empty() || v == "HTTP CONNECT / 407" || v == "HTTP CONNECT / Proxy-Agent" ||
                  v == "HTTP CONNECT / established",
              "verdict is one of the known texts", v);
  return 0;
}
