// What a proxy core's runtime controller says about the process behind one
// of its connections; read by the collect stage, the graph and the findings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "facts/facts.h"

namespace corvale {

/// What a runtime controller says about one connection's process.
struct RuntimeProcess {
  std::string process_path;
  std::string process_name;
  uint16_t source_port = 0;
};

/// The process one connection names; absent when it names none.
std::optional<RuntimeProcess> runtime_process_of(const CoreConnection& conn);

/// "{rule}:{rulePayload} -> {chain}" for one connection, chains joined by " / ".
std::string connection_summary(const CoreConnection& conn);

/// The file name after the last separator; the controller of a Linux core
/// reports "/usr/bin/x", one on the other desktop platform "C:\…\x.exe".
std::string_view file_name(std::string_view path);

}  // namespace corvale
