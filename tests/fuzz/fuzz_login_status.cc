// A login-status reply body: JSON, padded JSON or a comma list.
#include "fuzz_support.h"
#include "probe/campus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  auto info = parse_login_status(fuzz::text_of(data, size));
  if (!info.recognized)
    fuzz::check(info.user_name.empty() && info.online_ip.empty(),
                "nothing read from an unrecognised body");
  return 0;
}
