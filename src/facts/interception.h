// How likely the host's traffic is taken over by a local proxy or tunnel
// before it reaches the physical network.
#pragma once

#include "facts/facts.h"

namespace corvale {

/// Reads the egress adapter's assessment, the proxy candidates, the driver and
/// service hits and the route-source probe; pure.
InterceptionAssessment assess_interception(const Facts& facts);

/// Whether explicit proxy settings explain the interception evidence: a
/// configured endpoint on this host has a listener, and no tunnel carries
/// traffic (no up tunnel adapter, no core reporting connections).
ExplicitPolicy explicit_policy_of(const Facts& facts);

/// Fills `interception.explicit_policy` and `interception.effective`, the
/// level everything after the collect stage shows: "EXPLICIT-PROXY" when the
/// explicit policy explains evidence that was found, else the assessed level.
void decide_interception(Facts& facts);

}  // namespace corvale
