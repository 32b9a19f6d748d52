// How likely the host's traffic is taken over by a local proxy or tunnel
// before it reaches the physical network.
#pragma once

#include "facts/facts.h"

namespace corvale {

/// Reads the egress adapter's assessment, the proxy candidates, the driver and
/// service hits and the route-source probe; pure.
InterceptionAssessment assess_interception(const Facts& facts);

}  // namespace corvale
