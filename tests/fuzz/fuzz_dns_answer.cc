// A DNS reply datagram: the answer is empty or a dotted-quad IPv4 address,
// whatever the counts, lengths and compression pointers claim.
#include "fuzz_support.h"
#include "probe/probe.h"
#include "util/ip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  std::string answer = parse_dns_answer(fuzz::text_of(data, size));
  if (!answer.empty()) {
    auto ip = parse_ip(answer);
    fuzz::check(ip && ip->is_v4(), "answer is an IPv4 address", answer);
  }
  return 0;
}
