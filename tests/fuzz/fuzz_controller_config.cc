// A proxy core's configuration text, controller address and /configs reply:
// the pure readers of the controller client. The controller secret, once read, must be masked
// everywhere in the redacted lines.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mihomo/controller.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  std::string_view text = fuzz::text_of(data, size);
  std::vector<std::string> lines;
  for (auto l : split_lines(text)) lines.emplace_back(l);

  if (auto e = parse_controller_endpoint(text))
    fuzz::check(e->port != 0, "controller port is not 0");
  for (const auto& l : lines)
    if (auto e = parse_controller_endpoint(l))
      fuzz::check(e->port != 0, "controller port is not 0");
  for (const char* key : {"external-controller", "secret", "mixed-port", "port", "socks-port"}) {
    if (auto v = config_value(lines, key)) {
      fuzz::check(v->find('\n') == std::string::npos, "a value is one line", *v);
      if (std::string_view(key) == "external-controller") parse_controller_endpoint(*v);
    }
  }
  parse_tun_stack(lines);
  parse_proxies(lines);
  cmdline_option(text, "d");
  cmdline_option(text, "ext-ctl");
  config_path_from_cmdline(text);
  singbox_config_path(text);
  singbox_config_directory(text);
  if (auto device = runtime_tun_device(text))
    fuzz::check(!device->empty() && device->size() <= 15 &&
                    device->find_first_of(" \t\n/") == std::string::npos,
                "a running TUN device is an interface name", *device);

  // The secret as the client reads it, and one planted under the secret key.
  std::vector<std::string> secrets;
  if (auto s = config_value(lines, "secret")) secrets.push_back(*s);
  const std::string planted = fuzz::planted_password(text);
  if (text.find("Pl4nted") == std::string_view::npos) {
    lines.push_back("secret: \"" + planted + "\"");
    lines.push_back("# controller: http://127.0.0.1:9090?token=" + planted);
    secrets.push_back(planted);
  }
  for (const auto& secret : secrets) {
    if (secret.size() < 4) continue;  // too short to mask by value; only its key is masked
    for (const auto& l : redact_config_lines(lines, secret))
      fuzz::check(l.find(secret) == std::string::npos, "secret left in a redacted line", l);
  }
  return 0;
}
