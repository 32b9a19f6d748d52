#include "stages/collect.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <future>
#include <thread>

#include "facts/adapter_assessment.h"
#include "facts/egress.h"
#include "facts/interception.h"
#include "facts/proxy_settings.h"
#include "linux/adapters.h"
#include "linux/dns_config.h"
#include "linux/processes.h"
#include "linux/proxy_config_files.h"
#include "linux/routes.h"
#include "linux/services.h"
#include "linux/sockets.h"
#include "mihomo/controller.h"
#include "parallel/pmap.h"
#include "parallel/progress.h"
#include "probe/campus.h"
#include "probe/probe.h"
#include "probe/proxy_candidates.h"
#include "util/command.h"
#include "util/file.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

constexpr const char* kRouteSourceTarget = "1.1.1.1";
constexpr uint16_t kRouteSourcePort = 443;
constexpr uint64_t kRouteSourceTimeoutMs = 900;

void collect_identity(Facts& f) {
  f.hostname = trim(decode_utf8_lossy(read_file("/proc/sys/kernel/hostname", 4096).value_or("")));
  if (f.hostname.empty()) f.hostname = trim(run_command_text("hostname", {}));
  f.os_name = parse_os_name(decode_utf8_lossy(read_file("/etc/os-release", 65536).value_or("")));
  f.collected_at = trim(run_command_text("date", {"+%Y-%m-%d %H:%M:%S"}));
}

// What the side thread learns; the adapter that owns the source address is
// found after the join, from the stage's own adapter list.
struct RouteSourceRaw {
  bool connected = false;
  std::string source_address;
  uint32_t route_if_index = 0;
};

std::string local_address_of(int fd) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return {};
  char buf[INET6_ADDRSTRLEN] = {};
  if (ss.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&ss)->sin_addr, buf, sizeof buf);
  else if (ss.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&ss)->sin6_addr, buf, sizeof buf);
  return buf;
}

RouteSourceRaw probe_route_source() {
  RouteSourceRaw r;
  if (auto lookup = route_lookup(kRouteSourceTarget)) r.route_if_index = lookup->if_index;
  ConnectResult c = tcp_connect(kRouteSourceTarget, kRouteSourcePort, kRouteSourceTimeoutMs);
  if (c.ok()) {
    r.connected = true;
    r.source_address = local_address_of(c.fd.get());
  }
  return r;
}

void collect_adapters_and_routes(Facts& f) {
  f.adapters = list_adapters();
  f.devices_by_mac = device_records_for(f.adapters);
  f.routes = read_all_routes(name_to_index(f.adapters));
  for (const auto& a : f.adapters)
    f.assessments_by_index[a.if_index] = assess_adapter(a, f.devices_by_mac, f.routes);
}

void collect_egress_and_internet(Facts& f) {
  f.egress_v4 = route_lookup(kInternetTargetV4);
  f.egress_v6 = route_lookup(kInternetTargetV6);
  EgressFacts e = derive_egress(f.adapters, f.routes, f.egress_v4, f.egress_v6);
  f.egress_v4_adapter = std::move(e.egress_v4_adapter);
  f.default_route_v4 = std::move(e.default_route_v4);
  f.default_route_v6 = std::move(e.default_route_v6);
  f.default_gateway_v4 = std::move(e.default_gateway_v4);
  f.default_gateway_v6 = std::move(e.default_gateway_v6);
  std::vector<std::string> targets = {kInternetTargetV4, kInternetTargetV6};
  auto r = pmap(targets, "internet reachability",
                [](const std::string& host) { return ping_probe(host); });
  f.internet_probes.v4 = r[0];
  f.internet_probes.v6 = r[1];
}

// Returns the full records of the proxy-named processes, which the proxy
// core step reads again.
ProcessDetails collect_local_identity(Facts& f) {
  for (const auto& a : f.adapters) {
    for (const auto* list : {&a.ipv4_addresses, &a.ipv6_addresses})
      for (const auto& ia : *list)
        if (std::string n = normalize_ip_text(ia.address); !n.empty()) f.local_addresses.insert(n);
  }
  f.local_names.insert(to_lower(f.hostname));
  f.local_names.insert("localhost");
  // The platform proxy texts; Linux has no system-wide setting of this kind,
  // and the command is simply absent.
  f.proxy_settings.winhttp_text = run_command_text("netsh", {"winhttp", "show", "proxy"});
  ProcessScan scan = scan_processes();
  f.processes_by_pid = std::move(scan.processes_by_pid);
  f.proxy_processes = std::move(scan.proxy_processes);
  ProcessDetails details;
  for (auto& p : f.proxy_processes) {
    if (auto info = read_process_info(p.pid)) {
      p.exe_path = info->exe_path;
      p.command_line = info->command_line;
      details.emplace(p.pid, std::move(*info));
    }
  }
  return details;
}

void collect_sockets_and_endpoints(Facts& f) {
  TcpSockets tcp = collect_tcp_sockets();
  f.tcp_sockets = std::move(tcp.tcp_sockets);
  f.tcp_listeners = std::move(tcp.tcp_listeners);
  f.udp_sockets = collect_udp_sockets();
  auto& eps = f.proxy_settings.endpoints;
  if (f.proxy_settings.proxy_enabled)
    extract_proxy_endpoints(f.proxy_settings.proxy_server, "WinINET", eps);
  extract_proxy_endpoints(f.proxy_settings.winhttp_text, "WinHTTP", eps);
  // The lower-case spellings are as common on Linux as the upper-case ones.
  for (bool lower : {false, true})
    for (const char* upper : kProxyVariables) {
      std::string var = lower ? to_lower(upper) : std::string(upper);
      if (auto v = env_text(var.c_str())) extract_proxy_endpoints(*v, var, eps);
    }
  collect_config_endpoints(find_proxy_config_files(default_config_roots()), eps);
}

// Adds the full records of `pids` not read yet.
void read_details(const std::vector<uint32_t>& pids, ProcessDetails& details) {
  for (uint32_t pid : pids)
    if (!details.contains(pid))
      if (auto info = read_process_info(pid)) details.emplace(pid, std::move(*info));
}

void collect_core_infos(Facts& f, ProcessDetails& details) {
  std::vector<uint32_t> pids = proxy_core_pids(f, details);
  (void)run_command_text("netsh", {"wlan", "show", "interfaces"});
  for (uint32_t pid : pids) {
    auto it = details.find(pid);
    if (it == details.end()) continue;
    if (!is_controller_core(process_identity(it->second))) continue;
    f.core_infos.push_back(discover_core(it->second, f.tcp_listeners, f.local_addresses));
  }
}

}  // namespace

std::string parse_os_name(std::string_view os_release) {
  for (auto line : split_lines(os_release)) {
    if (!line.starts_with("PRETTY_NAME=")) continue;
    std::string_view v = trim_view(line.substr(12));
    while (!v.empty() && v.front() == '"') v.remove_prefix(1);
    while (!v.empty() && v.back() == '"') v.remove_suffix(1);
    return std::string(v);
  }
  return "Linux";
}

RouteSourceProbe route_source_result(bool connected, const std::string& source_address,
                                     uint32_t route_if_index,
                                     const std::vector<Adapter>& adapters) {
  RouteSourceProbe p;
  p.connected = connected;
  p.source_address = source_address;
  p.route_if_index = route_if_index;
  if (connected && !source_address.empty()) {
    auto owns = [&](const std::vector<InterfaceAddress>& list) {
      for (const auto& ia : list)
        if (ia.address == source_address) return true;
      return false;
    };
    for (const auto& a : adapters) {
      if (owns(a.ipv4_addresses) || owns(a.ipv6_addresses)) {
        p.socket_if_index = a.if_index;
        break;
      }
    }
  }
  p.mismatch = p.connected && p.route_if_index != 0 && p.socket_if_index != 0 &&
               p.route_if_index != p.socket_if_index;
  return p;
}

std::vector<GatewayProbe> gateway_targets(const std::vector<RouteEntry>& routes) {
  std::vector<GatewayProbe> out;
  for (uint16_t fam : {kFamilyV4, kFamilyV6}) {
    for (const auto& r : routes) {
      if (r.family != fam || !is_default_route(r) || !has_conventional_gateway(r)) continue;
      GatewayProbe g;
      g.gateway = pingable_gateway(r);
      g.if_index = r.if_index;
      g.family = fam;
      bool seen = false;
      for (const auto& o : out) seen = seen || o.gateway == g.gateway;
      if (!seen) out.push_back(std::move(g));
    }
  }
  return out;
}

Facts collect_facts() {
  Facts f;
  collect_identity(f);
  // The route-source probe waits up to 900 ms on the network, so it runs
  // beside the first half of the stage.
  std::packaged_task<RouteSourceRaw()> task(probe_route_source);
  std::future<RouteSourceRaw> route_source = task.get_future();
  std::jthread side(std::move(task));

  collect_adapters_and_routes(f);
  timing_mark("adapters+pnp+routes");
  collect_egress_and_internet(f);
  timing_mark("egress+reachability");
  ProcessDetails details = collect_local_identity(f);
  timing_mark("proxy-registry");
  collect_sockets_and_endpoints(f);
  timing_mark("tcp-snapshots");

  read_details(listener_owner_pids(f), details);
  f.proxy_candidates = assess_proxy_candidates(f, details);
  timing_mark("listener-discovery");

  f.driver_hits = match_services(list_running_services());
  f.service_hits = match_services(list_running_services());
  timing_mark("services");
  side.join();
  RouteSourceRaw raw = route_source.get();
  f.route_source =
      route_source_result(raw.connected, raw.source_address, raw.route_if_index, f.adapters);
  timing_mark("route-source-probe");

  for (const auto& a : f.adapters) {
    auto it = f.assessments_by_index.find(a.if_index);
    f.adapter_assessments.push_back(it == f.assessments_by_index.end() ? AdapterAssessment{}
                                                                       : it->second);
  }
  timing_mark("adapter-assessments");
  f.interception = assess_interception(f);
  timing_mark("intercept-score");

  collect_core_infos(f, details);
  timing_mark("core-infos");

  f.physical_candidates = physical_candidates(f);
  timing_mark("phys-candidates");
  f.physical_gateway_v4 = physical_gateway(f.physical_candidates, kFamilyV4);
  f.physical_gateway_v6 = physical_gateway(f.physical_candidates, kFamilyV6);
  timing_mark("phys-gw");

  auto targets = gateway_targets(f.routes);
  auto pings = pmap(targets, "gateway reachability",
                    [](const GatewayProbe& g) { return ping_probe(g.gateway).ok; });
  for (size_t i = 0; i < targets.size(); ++i) targets[i].ok = pings[i];
  f.gateway_probes = std::move(targets);
  timing_mark("gw-probes");

  f.campus_probes = probe_campus();
  timing_mark("zek-facts");
  return f;
}

}  // namespace corvale
