// What one diagnosis rule sees and returns, shared by the files that hold
// rules; the rule table itself lives in findings.cc.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "facts/findings.h"

namespace corvale::finding_rules {

// What one rule found; the table row adds the code and, unless the rule
// overrides it, the severity.
struct Draft {
  std::string text;
  std::vector<std::string> evidence;
  std::optional<Severity> severity;
};

struct Context {
  const Facts& f;
  std::string_view level;
  const ResolverResults& resolvers;
  std::vector<Finding> found;  // in table order so far

  bool fired(std::string_view code) const {
    return std::any_of(found.begin(), found.end(),
                       [&](const Finding& x) { return x.code == code; });
  }
};

using Check = std::optional<Draft> (*)(const Context&);

struct Rule {
  std::string_view code;
  Severity severity;
  Check check;
};

/// A probed address (resolver, campus host, Internet target) whose route
/// goes into a local container or VM network instead of the links that carry
/// the rest: its silence is that network's doing, not the real network's.
bool captured_locally(const Facts& f, const std::string& address);

/// How to remove a tunnel's leftover default route: the route command, with
/// the table and the rules that lead to it when a policy table holds it.
std::string leftover_route_removal(const Facts& f, const Adapter& tunnel);

std::optional<Draft> local_route_capture(const Context& c);
std::optional<Draft> policy_rule_empty_table(const Context& c);

}  // namespace corvale::finding_rules
