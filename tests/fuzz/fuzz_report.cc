// The whole report from a record built from fuzz bytes, through the graph
// build (with no live probe) and the findings. The page is valid UTF-8, its
// payload's script element ends only where it should and parses, every
// chain block's hash recomputes from its content and is on the page, and the
// planted secret appears nowhere.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "facts/findings.h"
#include "facts/interception.h"
#include "fuzz_facts.h"
#include "fuzz_support.h"
#include "graph/graph.h"
#include "report/report.h"
#include "report/sha256.h"
#include "util/text.h"

namespace {

size_t count(std::string_view text, std::string_view needle) {
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string_view::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvale;
  auto planted = fuzz::planted_facts(fuzz::text_of(data, size));
  if (!planted) return 0;
  const std::string& secret = planted->secret;
  fuzz::Bytes& in = planted->in;
  Facts& f = planted->facts;
  ProbeResults probes;
  for (const auto& r : f.routes) probes.pings[r.gateway] = {in.flag(), in.byte()};
  GraphHooks hooks;
  hooks.ping = [](const std::string&) { return PingResult{}; };
  hooks.dns = [](const std::string&, uint64_t) { return DnsProbeResult{}; };
  hooks.env = [&](const char* name) -> std::optional<std::string> {
    if (std::string_view(name) == "HTTP_PROXY") return "http://u:" + secret + "@127.0.0.1:7890";
    if (std::string_view(name) == "ALL_PROXY") return "socks5h://" + secret + "@[::1]:1080";
    return std::nullopt;
  };
  decide_interception(f);
  GraphBuildResult g = build_graph(f, probes, hooks);
  auto findings = diagnose(f, {});
  const std::string html = render_report(f, g.graph, probes, "fuzz", findings);

  fuzz::check(is_valid_utf8(html), "the page is valid UTF-8");
  size_t leak = html.find(fuzz::kMarker);
  fuzz::check(leak == std::string::npos, "the page holds the secret",
              leak == std::string::npos ? "" : html.substr(leak > 80 ? leak - 80 : 0, 200));
  // The HTML parser ends a script element at "</script" in any case.
  std::string lower = to_lower(html);
  fuzz::check(count(lower, "</script") == 2, "a script element ends early");
  size_t start = html.find("<script>window.ND = ");
  fuzz::check(start != std::string::npos, "the payload is on the page");
  start += 20;
  size_t end = lower.find("</script", start);
  fuzz::check(end >= 1 && html[end - 1] == ';', "the payload's script ends after it");
  auto payload = nlohmann::json::parse(html.substr(start, end - 1 - start), nullptr, false);
  fuzz::check(!payload.is_discarded() && payload.is_object(), "the payload parses");

  std::string prev(64, '0');
  auto blocks = egress_chain_blocks(f, probes);
  fuzz::check(!blocks.empty(), "the chain has blocks");
  for (const auto& b : blocks) {
    fuzz::check(b.prev == prev, "a block links to the one before");
    fuzz::check(b.hash == sha256_hex(block_content(b.height, b.plan, prev)), "a hash recomputes");
    fuzz::check(html.find("title=\"" + b.hash + "\"") != std::string::npos,
                "a block's hash is on the page");
    prev = b.hash;
  }
  return 0;
}
