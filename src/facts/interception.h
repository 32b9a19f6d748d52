// How likely the host's traffic is taken over by a local proxy or tunnel
// before it reaches the physical network.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "facts/facts.h"

namespace corvale {

/// Reads the egress adapter's assessment, the proxy candidates, the driver and
/// service hits and the route-source probe; pure.
InterceptionAssessment assess_interception(const Facts& facts);

/// Whether a configured proxy endpoint's host is served by a listener bound
/// to `listener_host` (ports compared by the caller). Equal addresses after
/// normalisation match; a loopback name in the setting ("localhost", any
/// 127.x address, ::1) matches a loopback bind. A listener bound to an
/// unspecified address accepts a setting that names loopback or one of the
/// host's own addresses of its family: 0.0.0.0 takes IPv4 loopback,
/// "localhost" and own IPv4 addresses; :: takes these of both families, since
/// a dual-stack socket also accepts IPv4. Any other host matches nothing.
bool policy_host_matches(std::string_view setting_host, std::string_view listener_host,
                         const std::set<std::string>& local_addresses);

/// Loopback, unspecified, or one of this host's own addresses or names.
bool is_this_host(const Facts& facts, const std::string& host);

/// Whether explicit proxy settings explain the interception evidence: a
/// configured endpoint on this host has a listener, and no tunnel carries
/// traffic (no up tunnel adapter, no core reporting connections).
ExplicitPolicy explicit_policy_of(const Facts& facts);

/// Fills `interception.explicit_policy` and `interception.effective`, the
/// level everything after the collect stage shows: "EXPLICIT-PROXY" when the
/// explicit policy explains evidence that was found, else the assessed level.
void decide_interception(Facts& facts);

}  // namespace corvale
