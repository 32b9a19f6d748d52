// The diagnosis on a whole record built from fuzz bytes: it never fails,
// always says something, and every sentence and piece of evidence is free of
// control and bidirectional characters and of the planted secret.
#include "facts/findings.h"
#include "facts/interception.h"
#include "fuzz_facts.h"
#include "fuzz_support.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  auto planted = fuzz::planted_facts(fuzz::text_of(data, size));
  if (!planted) return 0;
  fuzz::Bytes& in = planted->in;
  Facts& f = planted->facts;
  decide_interception(f);
  // Any effective level, including one the facts alone would not reach.
  if (in.flag()) f.interception.effective = static_cast<InterceptionLevel>(in.below(5));
  ResolverResults resolvers;
  for (const auto& a : f.adapters)
    for (const auto& s : a.dns_servers) resolvers[s] = {in.text(), in.byte(), in.flag()};
  auto all = diagnose(f, resolvers);
  fuzz::check(!all.empty(), "the diagnosis says something");
  auto clean = [&](const std::string& s) {
    fuzz::check(terminal_safe(s) == s, "finding text holds a control character", s);
    fuzz::check(s.find(fuzz::kMarker) == std::string::npos, "finding text holds the secret", s);
  };
  for (const auto& x : all) {
    clean(x.text);
    for (const auto& e : x.evidence) clean(e);
  }
  return 0;
}
