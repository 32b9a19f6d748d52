// Who owns a tunnel, and whose traffic a proxy core captures: the answers the
// operating system does not give, each with a confidence and a reason text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"
#include "facts/products.h"
#include "facts/runtime_process.h"
#include "facts/verdicts.h"

namespace corvale {

struct OwnerCandidate {
  ProcessInfo process;
  int64_t identity_score = 0;
  double confidence = 0;
  std::string reason;
  bool protocol_listener = false;  // owns a listener that answered SOCKS5 / HTTP CONNECT
  bool unique_active = false;
};

/// Proxy-core processes ranked as owners of the tunnel `tunnel_if_index`,
/// strongest first.
std::vector<OwnerCandidate> tunnel_owner_candidates(const Facts& facts, uint32_t tunnel_if_index);

/// The confidence and reason for one candidate, given how many there are.
void score_owner(OwnerCandidate& candidate, size_t candidate_count);

struct CaptureMatch {
  double confidence = 0;
  std::string reason;
};

/// The first rule of exact executable path (0.99), executable file name
/// (0.92), the command line's program path (0.88: the process's own claim),
/// process name or name + ".exe" (0.86) that holds for `local`.
std::optional<CaptureMatch> match_runtime_process(const RuntimeProcess& runtime,
                                                  const ProcessInfo& local);

struct CapturedProcess {
  ProcessInfo process;
  std::vector<std::string> flows;  // connection summaries, in controller order
  double confidence = 0;
  std::string reason;
  CoreInbound inbound = CoreInbound::kUnknown;  // how its connections reached the core
};

/// Local processes whose connections `core` reports, merged by PID, in order
/// of first appearance; connections that match no local process are skipped.
std::vector<CapturedProcess> captured_processes(const CoreControllerInfo& core, const Facts& facts);

}  // namespace corvale
