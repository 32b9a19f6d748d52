// The machine-readable copy of a run's facts (`--json FILE`).
#pragma once

#include <string>

#include "facts/facts.h"
#include "facts/findings.h"

namespace corvale {

/// Pretty-printed JSON of the whole record, fields in the record's order.
/// Holds no secret: no controller secret, no configuration lines (only their
/// count), credentials removed from proxy texts and URLs, and values of
/// secret-like options masked in command lines. Never throws.
/// `findings` go under "findings", after the effective interception level.
std::string facts_to_json(const Facts& facts, const std::vector<Finding>& findings = {});

}  // namespace corvale
