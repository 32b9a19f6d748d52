// The machine-readable copy of a run's facts (`--json FILE`).
#pragma once

#include <string>

#include "facts/facts.h"

namespace corvale {

/// Pretty-printed JSON with the record's field names in a fixed order. Holds
/// no secret: no controller secret, no configuration lines, no credentials.
std::string facts_to_json(const Facts& facts, const std::string& interception_level);

}  // namespace corvale
