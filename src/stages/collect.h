// The collect stage: creates one Facts record and fills it step by step.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "facts/probe_results.h"
#include "util/environment.h"

namespace corvale {

/// The pre-warm's DNS time-out; the stage hands over results in its terms.
inline constexpr uint64_t kPrewarmDnsTimeoutMs = 1500;

/// Runs every collector and probe in their fixed order; never fails. The
/// slow probes that need no earlier result start at once and are waited for
/// at the step that reports them. The stage's own pings and DNS answers go
/// into `probes` as the pre-warm would have seen them (DNS within
/// kPrewarmDnsTimeoutMs), so the pre-warm probes only what is missing. The
/// proxy variables and configuration directories come from `env`.
Facts collect_facts(const Environment& env, ProbeResults& probes);

/// The pre-warm's resolvers: the IPv4 name servers of adapters that are up,
/// then those of `upstream` (what a local stub forwards to), then the two
/// campus resolvers, each once.
std::vector<std::string> prewarm_resolvers(const std::vector<Adapter>& adapters,
                                           const std::vector<std::string>& upstream = {});

/// `r` as a probe with the shorter time-out `timeout_ms` would have seen it:
/// a reply that came later is no reply.
DnsProbeResult within_timeout(const DnsProbeResult& r, uint64_t timeout_ms);

/// os_name from the text of /etc/os-release: the PRETTY_NAME value, unquoted,
/// or "Linux" without one.
std::string parse_os_name(std::string_view os_release);

/// The route-source result: which adapter owns the connection's source
/// address, and whether that disagrees with the route lookup.
RouteSourceProbe route_source_result(bool connected, const std::string& source_address,
                                     uint32_t route_if_index, const std::vector<Adapter>& adapters);

/// Every conventional default gateway, IPv4 first, each once; a link-local
/// gateway carries its interface index ("fe80::1%2") so that it can be pinged.
std::vector<GatewayProbe> gateway_targets(const std::vector<RouteEntry>& routes);

}  // namespace corvale
