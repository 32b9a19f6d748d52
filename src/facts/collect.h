// The collect stage: creates one Facts record and fills it step by step.
#pragma once

#include <string_view>

#include "facts/facts.h"

namespace corvale {

/// Runs every collector and probe in their fixed order; never fails.
Facts collect_facts();

/// os_name from the text of /etc/os-release: the PRETTY_NAME value, unquoted,
/// or "Linux" without one.
std::string parse_os_name(std::string_view os_release);

}  // namespace corvale
