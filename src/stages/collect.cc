#include "stages/collect.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "facts/adapter_assessment.h"
#include "facts/desktop_proxy.h"
#include "facts/egress.h"
#include "facts/interception.h"
#include "facts/products.h"
#include "facts/proxy_settings.h"
#include "facts/runtime_process.h"
#include "linux/adapters.h"
#include "linux/desktop_proxy.h"
#include "linux/dns_config.h"
#include "linux/process_parent.h"
#include "linux/processes.h"
#include "linux/proxy_config_files.h"
#include "linux/routes.h"
#include "linux/rules.h"
#include "linux/services.h"
#include "linux/sockets.h"
#include "mihomo/controller.h"
#include "parallel/progress.h"
#include "parallel/worker_pool.h"
#include "probe/campus.h"
#include "probe/probe.h"
#include "probe/proxy_candidates.h"
#include "util/clock.h"
#include "util/command.h"
#include "util/file.h"
#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

constexpr const char* kRouteSourceTarget = "1.1.1.1";
constexpr uint16_t kRouteSourcePort = 443;
constexpr uint64_t kRouteSourceTimeoutMs = 900;
// Threads for the stage's independent slow probes: the route-source connect,
// two Internet pings, four campus pings, five campus probes, the gateways and
// the remaining resolvers. Mostly waiting on time-outs, so they are sized by
// count, not by processors; more than this queue.
constexpr size_t kStageWorkers = 16;

void collect_identity(Facts& f) {
  f.hostname = trim(decode_utf8_lossy(read_file("/proc/sys/kernel/hostname", 4096).value_or("")));
  if (f.hostname.empty()) f.hostname = trim(run_command_text("hostname", {}));
  f.os_name = parse_os_name(decode_utf8_lossy(read_file("/etc/os-release", 65536).value_or("")));
  f.collected_at = local_time_now("%Y-%m-%d %H:%M:%S");
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

void collect_adapters_and_routes(Facts& f, Pending<LinkDns>& link_dns) {
  f.adapters = list_adapters();
  // A VPN that installs its resolver on its own link shows only there.
  apply_link_dns(f.adapters, link_dns.get());
  // Behind a local stub resolver, the servers that really answer.
  f.upstream_dns_servers = read_upstream_dns_servers(read_dns_servers());
  f.devices_by_mac = device_records_for(f.adapters);
  // Policy rules decide which tables' default routes the host's programs use.
  RoutingState routing = read_routing(name_to_index(f.adapters), static_cast<uint32_t>(::getuid()));
  f.routes = std::move(routing.routes);
  f.policy_rules = std::move(routing.rules);
  for (const auto& a : f.adapters)
    f.assessments_by_index[a.if_index] = assess_adapter(a, f.devices_by_mac, f.routes);
}

void collect_egress(Facts& f) {
  f.egress_v4 = route_lookup(kInternetTargetV4);
  f.egress_v6 = route_lookup(kInternetTargetV6);
  EgressFacts e = derive_egress(f.adapters, f.routes, f.egress_v4, f.egress_v6);
  f.egress_v4_adapter = std::move(e.egress_v4_adapter);
  f.default_route_v4 = std::move(e.default_route_v4);
  f.default_route_v6 = std::move(e.default_route_v6);
  f.default_gateway_v4 = std::move(e.default_gateway_v4);
  f.default_gateway_v6 = std::move(e.default_gateway_v6);
}

// The slow probes whose targets are fixed or known from the routes alone,
// running on the stage's pool while the local collectors work.
struct StartedProbes {
  std::vector<std::string> internet_hosts = {kInternetTargetV4, kInternetTargetV6};
  PendingMap<PingResult> internet;
  std::vector<std::string> campus_hosts;
  PendingMap<PingResult> campus_pings;
  PendingMap<CampusProbeResult> campus_kinds;
  Pending<std::map<std::string, RouteLookup>> campus_routes;
  std::vector<GatewayProbe> gateways;
  std::vector<std::string> gateway_hosts;  // those not pinged as a fixed host
  PendingMap<PingResult> gateway_pings;
  std::vector<std::string> resolvers;
  PendingMap<DnsProbeResult> resolver_dns;
  Pending<std::map<std::string, RouteLookup>> resolver_routes;
};

// The kernel's route to each of `hosts`, keyed by host.
std::map<std::string, RouteLookup> lookup_routes(const std::vector<std::string>& hosts) {
  std::map<std::string, RouteLookup> routes;
  for (const auto& h : hosts)
    if (auto lookup = route_lookup(h)) routes.emplace(h, *lookup);
  return routes;
}

PingResult ping_one(const std::string& host) { return ping_probe(host); }

void start_fixed_probes(WorkerPool& pool, StartedProbes& p) {
  const CampusTargets campus;
  p.internet = start_map(pool, p.internet_hosts, "internet reachability", ping_one);
  p.campus_hosts = {campus.portal_host, campus.resolver_a, campus.resolver_b, campus.api_host};
  p.campus_pings = start_map(pool, p.campus_hosts, "ZEK reachability", ping_one);
  std::vector<int> kinds;
  for (int k = 0; k < kCampusProbeKinds; ++k) kinds.push_back(k);
  p.campus_kinds = start_map(pool, kinds, "ZEK probes", [](int k) { return run_campus_probe(k); });
  // Each campus host's own route: with split tunnelling it is not the
  // default egress.
  p.campus_routes = start_task(pool, [hosts = p.campus_hosts] { return lookup_routes(hosts); });
}

// Gateways and the pre-warm's resolvers are known once the adapters and
// routes are; the campus resolvers are left to the campus probes.
void start_route_probes(WorkerPool& pool, const Facts& f, StartedProbes& p) {
  p.gateways = gateway_targets(f.routes);
  auto fixed = [&p](const std::string& h) {
    return std::find(p.internet_hosts.begin(), p.internet_hosts.end(), h) !=
               p.internet_hosts.end() ||
           std::find(p.campus_hosts.begin(), p.campus_hosts.end(), h) != p.campus_hosts.end();
  };
  for (const auto& g : p.gateways)
    if (!fixed(g.gateway)) p.gateway_hosts.push_back(g.gateway);
  p.gateway_pings = start_map(pool, p.gateway_hosts, "gateway reachability", ping_one);
  const CampusTargets campus;
  std::vector<std::string> routed;
  for (const auto& r : prewarm_resolvers(f.adapters, f.upstream_dns_servers)) {
    if (!is_loopback_host(r)) routed.push_back(r);
    if (r != campus.resolver_a && r != campus.resolver_b) p.resolvers.push_back(r);
  }
  // A resolver whose route a local bridge captures is told apart from a
  // silent one.
  p.resolver_routes = start_task(pool, [routed] { return lookup_routes(routed); });
  p.resolver_dns = start_map(pool, p.resolvers, "DNS cache", [](const std::string& r) {
    return dns_probe(r, kPrewarmDnsTimeoutMs);
  });
}

// The stage's own probes run while the host is looked at: their ping
// children and sockets say nothing about the host. A child that has ended
// by now is left out like any process that ends while we look.
void drop_own_processes(std::map<uint32_t, ProcessInfo>& processes) {
  const auto self = static_cast<uint32_t>(::getpid());
  std::erase_if(processes, [self](const auto& entry) {
    std::optional<uint32_t> parent = parent_pid(entry.first);
    return !parent || *parent == self;
  });
}

void drop_own_sockets(std::vector<SocketEntry>& sockets) {
  const auto self = static_cast<uint32_t>(::getpid());
  std::erase_if(sockets, [self](const SocketEntry& s) { return s.pid == self; });
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
  drop_own_processes(f.processes_by_pid);
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

void collect_sockets_and_endpoints(Facts& f, const Environment& env) {
  TcpSockets tcp = collect_tcp_sockets();
  f.tcp_sockets = std::move(tcp.tcp_sockets);
  f.tcp_listeners = std::move(tcp.tcp_listeners);
  f.udp_sockets = collect_udp_sockets();
  for (auto* list : {&f.tcp_sockets, &f.tcp_listeners, &f.udp_sockets}) drop_own_sockets(*list);
  auto& eps = f.proxy_settings.endpoints;
  if (f.proxy_settings.proxy_enabled)
    extract_proxy_endpoints(f.proxy_settings.proxy_server, system_proxy_source(f.proxy_settings),
                            eps);
  extract_proxy_endpoints(f.proxy_settings.winhttp_text, "WinHTTP", eps);
  // The lower-case spellings are as common on Linux as the upper-case ones.
  for (bool lower : {false, true})
    for (const char* upper : kProxyVariables) {
      std::string var = lower ? to_lower(upper) : std::string(upper);
      if (auto v = env.get(var)) extract_proxy_endpoints(*v, var, eps);
    }
  collect_config_endpoints(find_proxy_config_files(default_config_roots(env)), eps,
                           &f.proxy_settings.config_controllers);
}

// Adds the full records of `pids` not read yet.
void read_details(const std::vector<uint32_t>& pids, ProcessDetails& details) {
  for (uint32_t pid : pids)
    if (!details.contains(pid))
      if (auto info = read_process_info(pid)) details.emplace(pid, std::move(*info));
}

// The processes a core's connections name get their full records, so that
// the capture trace can match them by executable path, not by name alone.
void read_captured_details(Facts& f) {
  std::set<std::string> names;
  for (const auto& core : f.core_infos)
    for (const CoreConnection& conn : core.connections)
      if (auto runtime = runtime_process_of(conn)) {
        if (!runtime->process_name.empty()) names.insert(runtime->process_name);
        if (auto file = file_name(runtime->process_path); !file.empty()) names.emplace(file);
      }
  if (names.empty()) return;
  for (auto& [pid, p] : f.processes_by_pid) {
    if (!p.exe_path.empty() || !(names.contains(p.name) || names.contains(p.name + ".exe")))
      continue;
    if (auto info = read_process_info(pid)) {
      p.exe_path = info->exe_path;
      p.command_line = info->command_line;
    }
  }
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

Facts collect_facts(const Environment& env, ProbeResults& probes) {
  Facts f;
  collect_identity(f);
  WorkerPool pool(kStageWorkers);
  // The route-source probe waits up to 900 ms on the network, so it runs
  // beside the first half of the stage.
  Pending<RouteSourceRaw> route_source = start_task(pool, probe_route_source);
  Pending<LinkDns> link_dns = start_task(pool, read_link_dns);
  Pending<std::vector<DesktopProxy>> desktop_proxies =
      start_task(pool, [user = desktop_user(env)] { return read_desktop_proxies(user); });
  StartedProbes started;
  start_fixed_probes(pool, started);

  collect_adapters_and_routes(f, link_dns);
  start_route_probes(pool, f, started);
  timing_mark("adapters+pnp+routes");
  collect_egress(f);
  auto internet = started.internet.get();
  f.internet_probes.v4 = internet[0];
  f.internet_probes.v6 = internet[1];
  for (size_t i = 0; i < internet.size(); ++i)
    probes.pings.emplace(started.internet_hosts[i], internet[i]);
  timing_mark("egress+reachability");
  ProcessDetails details = collect_local_identity(f);
  timing_mark("proxy-registry");
  if (auto in_force = desktop_proxy_in_force(desktop_proxies.get(),
                                             env.get("XDG_CURRENT_DESKTOP").value_or("")))
    apply_desktop_proxy(*in_force, f.proxy_settings);
  collect_sockets_and_endpoints(f, env);
  timing_mark("tcp-snapshots");

  read_details(listener_owner_pids(f), details);
  ProbeFns candidate_probes;
  candidate_probes.env = env.lookup();
  f.proxy_candidates = assess_proxy_candidates(f, details, candidate_probes);
  timing_mark("listener-discovery");

  // Both lists come from one listing of the running units.
  const std::vector<ServiceEntry> running = list_running_services();
  f.driver_hits = match_services(running);
  f.service_hits = match_services(running);
  timing_mark("services");
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
  read_captured_details(f);
  timing_mark("core-infos");

  f.physical_candidates = physical_candidates(f);
  timing_mark("phys-candidates");
  f.physical_gateway_v4 = physical_gateway(f.physical_candidates, kFamilyV4);
  f.physical_gateway_v6 = physical_gateway(f.physical_candidates, kFamilyV6);
  timing_mark("phys-gw");

  // A gateway that is also a campus host was pinged once, as that host.
  auto gateway_pings = started.gateway_pings.get();
  auto campus_pings = started.campus_pings.get();
  for (size_t i = 0; i < started.gateway_hosts.size(); ++i)
    probes.pings.emplace(started.gateway_hosts[i], gateway_pings[i]);
  for (size_t i = 0; i < started.campus_hosts.size(); ++i)
    probes.pings.emplace(started.campus_hosts[i], campus_pings[i]);
  for (auto& g : started.gateways) g.ok = probes.pings[g.gateway].ok;
  f.gateway_probes = std::move(started.gateways);
  timing_mark("gw-probes");

  CampusProbes& c = f.campus_probes;
  for (size_t i = 0; i < started.campus_hosts.size(); ++i)
    c.reachability.push_back({started.campus_hosts[i], campus_pings[i]});
  c.probes = started.campus_kinds.get();
  f.campus_routes = started.campus_routes.get();
  f.resolver_routes = started.resolver_routes.get();
  read_campus_replies(c);
  const CampusTargets campus;
  const std::string* campus_resolvers[] = {&campus.resolver_a, &campus.resolver_b};
  for (int k = 0; k < 2; ++k)
    if (const auto& dns = c.probes[2 + k].dns)
      probes.dns.emplace(*campus_resolvers[k], within_timeout(*dns, kPrewarmDnsTimeoutMs));
  auto resolver_dns = started.resolver_dns.get();
  for (size_t i = 0; i < started.resolvers.size(); ++i)
    probes.dns.emplace(started.resolvers[i], resolver_dns[i]);
  timing_mark("zek-facts");
  return f;
}

std::vector<std::string> prewarm_resolvers(const std::vector<Adapter>& adapters,
                                           const std::vector<std::string>& upstream) {
  std::vector<std::string> list;
  auto add = [&list](const std::string& r) {
    if (std::find(list.begin(), list.end(), r) == list.end()) list.push_back(r);
  };
  for (const auto& a : adapters) {
    if (!a.is_up) continue;
    for (const auto& s : a.dns_servers)
      if (s.find(':') == std::string::npos) add(s);
  }
  // Behind a local stub, the servers it forwards to answer for it.
  for (const auto& s : upstream)
    if (s.find(':') == std::string::npos) add(s);
  const CampusTargets campus;
  add(campus.resolver_a);
  add(campus.resolver_b);
  return list;
}

DnsProbeResult within_timeout(const DnsProbeResult& r, uint64_t timeout_ms) {
  if (r.elapsed_ms < timeout_ms) return r;
  return DnsProbeResult{};
}

}  // namespace corvale
