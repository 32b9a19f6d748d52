#include "report/report.h"

#include <fmt/format.h>

#include <algorithm>

#include "facts/adapter_assessment.h"
#include "facts/lookup.h"
#include "facts/products.h"
#include "facts/proxy_settings.h"
#include "report/assets.h"
#include "report/chain.h"
#include "report/payload.h"
#include "report/sections.h"
#include "util/html.h"
#include "util/regex.h"
#include "util/text.h"

namespace corvale {
namespace {

std::vector<ChainBlockPlan> chain_plans(const Facts& f, const ProbeResults& probes);

constexpr std::string_view kInternetTarget = "223.5.5.5";

std::string first_address(const std::vector<InterfaceAddress>& list) {
  return list.empty() ? std::string() : list.front().address;
}

/// The IPv4 egress runs over a tunnel: the same test the graph uses.
bool egress_is_tunnel(const Facts& f) {
  return f.egress_v4 && f.egress_v4_adapter && is_tunnel_interface(f, f.egress_v4->if_index);
}

struct Carrier {
  const Adapter* adapter = nullptr;
  std::string gateway;
};

// Without a tunnel the adapter the kernel chose is the carrier; behind a
// tunnel (or without an egress answer) it is the first IPv4 physical
// candidate of the collect stage.
Carrier find_carrier(const Facts& f, bool tunnel) {
  Carrier c;
  if (!tunnel && f.egress_v4 && f.egress_v4_adapter) {
    c.adapter = find_adapter(f, f.egress_v4->if_index);
    if (f.egress_v4->via)
      c.gateway = *f.egress_v4->via;
    else if (f.default_route_v4 && f.default_route_v4->if_index == f.egress_v4->if_index)
      c.gateway = f.default_gateway_v4.value_or("");
    if (c.adapter) return c;
  }
  for (const auto& p : f.physical_candidates) {
    if (p.family != kFamilyV4) continue;
    if (const Adapter* a = find_adapter(f, p.if_index)) return {a, p.gateway};
  }
  return {};
}

bool gateway_answers(const Facts& f, const ProbeResults& probes, const std::string& gateway) {
  if (auto it = probes.pings.find(gateway); it != probes.pings.end()) return it->second.ok;
  // The collect stage pinged every default gateway too.
  for (const auto& g : f.gateway_probes)
    if (g.gateway == gateway) return g.ok;
  return false;
}

// A core process for the Proxy core block: the first whose name names a
// known core, preferring names other than the bare "clash" family word.
const ProcessInfo* select_core_process(const Facts& f) {
  const Regex& any = product_patterns().chain_core;
  const Regex& preferred = product_patterns().chain_preferred_core;
  const ProcessInfo* first = nullptr;
  for (const auto& p : f.proxy_processes) {
    if (!any.is_match(p.name)) continue;
    if (preferred.is_match(p.name)) return &p;
    if (!first) first = &p;
  }
  return first;
}

ChainBlockPlan block_plan(std::string title, std::string sub) {
  ChainBlockPlan b;
  b.title = std::move(title);
  b.sub = std::move(sub);
  return b;
}

ChainBlockPlan tunnel_block(const Facts& f) {
  const Adapter& a = *f.egress_v4_adapter;
  ChainBlockPlan b = block_plan(a.name + " TUN", "selected default route (tunnel)");
  b.key = a.name;
  if (!a.ipv4_addresses.empty())
    b.rows.push_back(block_row("IPv4", first_address(a.ipv4_addresses)));
  if (f.egress_v6 && f.egress_v6->if_index == f.egress_v4->if_index && !a.ipv6_addresses.empty())
    b.rows.push_back(block_row("IPv6", first_address(a.ipv6_addresses)));
  b.rows.push_back(block_row("ifIndex", std::to_string(f.egress_v4->if_index)));
  if (f.egress_v4->via) b.rows.push_back(block_row("via", *f.egress_v4->via));
  if (!a.dns_servers.empty()) b.rows.push_back(block_row("DNS", join(a.dns_servers, " ")));
  b.status = "OK";
  return b;
}

ChainBlockPlan core_block(const Facts& f, const ProcessInfo& p) {
  ChainBlockPlan b = block_plan(p.name, "proxy core process");
  b.rows.push_back(block_row("PID", std::to_string(p.pid)));
  if (!p.exe_path.empty()) b.rows.push_back(block_row("path", p.exe_path));
  std::vector<uint16_t> ports;
  for (const auto& s : f.tcp_listeners)
    if (s.pid == p.pid) ports.push_back(s.local_port);
  // One port bound on IPv4 and IPv6 is one listening port to the reader.
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  std::vector<std::string> listen;
  for (uint16_t port : ports) listen.push_back(fmt::format(":{}", port));
  if (!listen.empty()) b.rows.push_back(block_row("listen", join(listen, " ")));
  return b;
}

std::vector<ChainBlockPlan> chain_plans(const Facts& f, const ProbeResults& probes) {
  std::vector<ChainBlockPlan> plans;
  plans.push_back(block_plan("Applications", "local user apps & system traffic"));
  plans.back().rows.push_back(block_row("traffic", "all local TCP/UDP"));
  bool tunnel = egress_is_tunnel(f);
  if (tunnel) {
    plans.push_back(tunnel_block(f));
    if (const ProcessInfo* core = select_core_process(f)) plans.push_back(core_block(f, *core));
  }

  Carrier carrier = find_carrier(f, tunnel);
  ChainBlockPlan nic = block_plan("Physical NIC", "upstream carrier");
  if (carrier.adapter) {
    nic.rows.push_back(block_row("adapter", carrier.adapter->name));
    nic.rows.push_back(block_row("ifIndex", std::to_string(carrier.adapter->if_index)));
    if (!carrier.adapter->ipv4_addresses.empty())
      nic.rows.push_back(block_row("IPv4", first_address(carrier.adapter->ipv4_addresses)));
  }
  if (!carrier.gateway.empty()) nic.rows.push_back(block_row("gateway", carrier.gateway));
  nic.status = carrier.adapter ? "OK" : "FAIL";
  plans.push_back(std::move(nic));

  bool reachable = !carrier.gateway.empty() && gateway_answers(f, probes, carrier.gateway);
  ChainBlockPlan gw = block_plan("LAN Gateway", "first hop to ISP");
  if (!carrier.gateway.empty()) gw.rows.push_back(block_row("address", carrier.gateway));
  gw.rows.push_back(block_row("ping", reachable ? "reachable" : "timeout"));
  gw.status = reachable ? "OK" : "FAIL";
  plans.push_back(std::move(gw));

  const Adapter* egress = f.egress_v4 ? find_adapter(f, f.egress_v4->if_index) : nullptr;
  ChainBlockPlan isp = block_plan("Internet / ISP", "IPv4 reachability");
  isp.rows.push_back(block_row("probe", kInternetTarget));
  isp.rows.push_back(block_row("egress", egress ? egress->name : ""));
  isp.rows.push_back(
      block_row("src", f.egress_v4 ? f.egress_v4->source.value_or("") : std::string()));
  isp.status = f.internet_probes.v4.ok ? "OK" : "FAIL";
  plans.push_back(std::move(isp));
  return plans;
}

std::string chip(std::string_view label, std::string_view value) {
  return fmt::format("<span class=\"chip\">{} <b>{}</b></span>", label, html_text(value));
}

std::string chip_classed(std::string_view label, std::string_view cls, std::string_view value) {
  return fmt::format("<span class=\"chip\">{} <b class=\"{}\">{}</b></span>", label, cls,
                     html_text(value));
}

std::string chips(const Facts& f) {
  InterceptionLevel level = f.interception.effective;
  std::string egress_v6;
  if (f.egress_v6)
    if (const Adapter* a = find_adapter(f, f.egress_v6->if_index)) egress_v6 = a->name;
  const ProxySettings& ps = f.proxy_settings;
  std::string wininet =
      ps.proxy_enabled ? fmt::format("on ({})", redact_proxy_credentials(ps.proxy_server)) : "off";
  std::string_view level_class = level == InterceptionLevel::kLikely     ? "fail"
                                 : level == InterceptionLevel::kPossible ? "warn"
                                                                         : "ok";
  std::vector<uint32_t> pids;
  for (const auto& c : f.proxy_candidates.candidates) pids.push_back(c.pid);
  std::sort(pids.begin(), pids.end());
  pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
  bool v4_ok = f.internet_probes.v4.ok;

  std::string out;
  out += chip("Host", f.hostname);
  out += chip("Egress IPv4", f.egress_v4_adapter ? f.egress_v4_adapter->name : "");
  out += chip("Egress IPv6", egress_v6);
  out += chip_classed("IPv4 Internet", v4_ok ? "ok" : "fail", v4_ok ? "OK" : "FAIL");
  out += chip("WinINET proxy", wininet);
  out += chip("Graph", "V5.2 entity-compact");
  out += chip("TCP evidence", "3 snapshots");
  out += chip_classed("Interception", level_class, level_text(level));
  out += chip("Proxy candidates", fmt::format("{} proc / {} endpoints", pids.size(),
                                              f.proxy_candidates.candidates.size()));
  return out;
}

// The diagnosis in words, most severe first, one line per finding; nothing
// when there are none.
std::string findings_block(const std::vector<Finding>& findings) {
  if (findings.empty()) return "";
  std::string out = "<div class=\"findings\">";
  for (const auto& x : findings) {
    std::string word(severity_text(x.severity));
    out += fmt::format("<div class=\"finding {}\" data-code=\"{}\"><b>{}</b> {}</div>",
                       to_lower(word), html_escape(x.code), word, html_text(x.display()));
  }
  return out + "</div>\n";
}

// Everything between the header's title and its closing tag. Blocks that
// belong under the chips go here, before the external links.
std::string header_body(const Facts& f, const std::vector<Finding>& findings) {
  std::string host = html_text(f.hostname);
  return fmt::format(
      "<div class=\"sub\">{} &middot; {} &middot; generated {}</div>\n"
      "<div class=\"chips\">{}</div>\n{}{}",
      host, html_text(f.os_name), html_text(f.collected_at), chips(f), findings_block(findings),
      report_extlinks());
}

std::string chain_view(const Facts& f, const ProbeResults& probes) {
  std::string out = "<h2>Default egress chain</h2><div class=\"chain\">";
  out += render_blocks(egress_chain_blocks(f, probes));
  out += "</div>";
  out += detail_sections(f);
  out += interception_sections(f);
  return out;
}

}  // namespace

std::vector<ChainBlock> egress_chain_blocks(const Facts& facts, const ProbeResults& probes) {
  return link_blocks(chain_plans(facts, probes),
                     facts.egress_v4_adapter ? facts.egress_v4_adapter->name : "");
}

std::string render_report(const Facts& facts, const TopologyGraph& graph,
                          const ProbeResults& probes, std::string_view version,
                          const std::vector<Finding>& findings) {
  std::string host = html_text(facts.hostname);
  std::string payload = graph_payload_json(graph);
  std::string chain = chain_view(facts, probes);
  std::string out;
  out.reserve(payload.size() + chain.size() + report_stylesheet().size() + report_script().size() +
              report_graph_section().size() + 8192);
  out += fmt::format(
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n"
      "<title>Corvale Report - {}</title>\n<style>\n{}\n</style>\n</head>\n<body>\n<header>\n"
      "<h1>Corvale Report <small>default egress + evidence graph</small></h1>\n",
      host, report_stylesheet());
  out += header_body(facts, findings);
  out +=
      "\n</header>\n<main>\n<div class=\"tabs\">\n"
      "<button class=\"tab on\" data-view=\"chain\">Detail chain</button>\n"
      "<button class=\"tab\" data-view=\"graph\">Node graph</button>\n"
      "<button class=\"tab revealbtn\" id=\"revealbtn\" title=\"Toggle blur on all detail info "
      "(or select/highlight text to peek)\">Show info</button>\n"
      "</div>\n<section id=\"view-chain\" class=\"view\">\n";
  out += chain;
  out += "\n</section>\n<script>window.ND = ";
  out += payload;
  out += ";</script>\n";
  out += report_graph_section();
  out += fmt::format(
      "\n</main>\n<footer>Hash-linked blocks: each block stores the SHA256 of its own content "
      "plus the previous block hash; any change to the chain breaks every following hash. Node "
      "graph V5.2 entity-compact keeps explicit proxy/TUN paths in the traffic topology, merges "
      "same-layer entities, and places endpoint/socket evidence behind expandable details; "
      "unexplained interception evidence remains a non-hop sidecar; zero-dependency vanilla "
      "SVG. Generated by corvale {}.</footer>\n<script>\n{}\n</script>\n</body>\n</html>\n",
      html_escape(version), report_script());
  return out;
}

}  // namespace corvale
