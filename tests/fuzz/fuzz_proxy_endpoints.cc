// Proxy texts (settings, environment values, configuration files) with a
// password planted in a URL or a bare user:pass@host:port form: neither the
// redacted text nor any extracted endpoint may hold any of it.
#include <string>
#include <vector>

#include "facts/proxy_settings.h"
#include "fuzz_support.h"

namespace {

void expect_no_leak(const std::string& text, std::string_view marker) {
  using namespace corvale;
  std::string clean = redact_proxy_credentials(text);
  fuzz::check(clean.find(marker) == std::string::npos, "redacted text keeps the password", clean);
  std::vector<ProxyEndpoint> found;
  extract_proxy_endpoints(text, "fuzz", found);
  for (const auto& e : found) {
    fuzz::check(e.port != 0, "endpoint port is not 0", e.host);
    fuzz::check(!e.host.empty(), "endpoint host is not empty");
    fuzz::check(e.host.find(marker) == std::string::npos, "endpoint host holds the password",
                e.host);
    fuzz::check(e.scheme.find(marker) == std::string::npos, "endpoint scheme holds the password",
                e.scheme);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  std::string_view text = fuzz::text_of(data, size);
  // Without a planted password: only the endpoint invariants.
  std::vector<ProxyEndpoint> found;
  extract_proxy_endpoints(text, "fuzz", found);
  for (const auto& e : found) fuzz::check(e.port != 0 && !e.host.empty(), "endpoint is complete");

  using fuzz::kMarker;
  if (text.find(kMarker) != std::string_view::npos) return 0;
  const std::string pw = fuzz::planted_password(text);
  const std::string body(text);
  const std::string half = body.substr(0, body.size() / 2), rest = body.substr(body.size() / 2);
  static constexpr const char* kForms[] = {"http://user:{}@", "socks5://u:{}@", "HTTPS://me:{}@",
                                           "socks5h://:{}@",  "u:{}@",          "http=u:{}@"};
  for (const char* form : kForms) {
    std::string cred(form);
    cred.replace(cred.find("{}"), 2, pw);
    expect_no_leak(body + " " + cred + "127.0.0.1:7890", kMarker);
    expect_no_leak(cred + body, kMarker);
    expect_no_leak(half + cred + rest, kMarker);
  }
  return 0;
}
