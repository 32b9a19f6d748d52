// The answer in words: what is wrong with the host's network and what to do,
// read from the finished facts alone (no probe of its own).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "facts/phrase.h"

namespace corvale {

/// Most severe first; the order is the order findings are listed in.
enum class Severity { kProblem, kWarning, kNote, kOk };

/// "PROBLEM", "WARNING", "NOTE", "OK".
std::string_view severity_text(Severity severity);

struct Finding {
  Severity severity = Severity::kOk;
  std::string code;                   // stable, e.g. "gateway-silent"
  std::string text;                   // one sentence: what is wrong, then what to do
  std::vector<std::string> evidence;  // the facts the finding rests on
  std::string shown = {};             // `text` in the user's language; never in --json

  /// What the console and the report print: the user's language when there is one.
  const std::string& display() const { return shown.empty() ? text : shown; }
};

/// The driver's answers from the configured resolvers, keyed by address.
using ResolverResults = std::map<std::string, DnsProbeResult>;

/// Every rule that holds, most severe first (rules of one severity in table
/// order); exactly one "all-clear" finding when no rule finds a problem or a
/// warning. The interception rules read the effective level
/// (`interception.effective`, see decide_interception). Each sentence is
/// also given in the language of `translate` (`shown`).
std::vector<Finding> diagnose(const Facts& facts, const ResolverResults& resolvers,
                              const Translate& translate = {});

}  // namespace corvale
