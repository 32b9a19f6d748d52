// What a proxy core's runtime controller says about the process behind one
// of its connections; read by the collect stage, the graph and the findings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvale {

/// What a runtime controller says about one connection's process.
struct RuntimeProcess {
  std::string process_path;
  std::string process_name;
  uint16_t source_port = 0;
};

/// Reads "metadata" of one connection (compact JSON); absent when unusable.
std::optional<RuntimeProcess> runtime_process_of(std::string_view connection_json);

/// The file name after the last separator; the controller of a Linux core
/// reports "/usr/bin/x", one on the other desktop platform "C:\…\x.exe".
std::string_view file_name(std::string_view path);

}  // namespace corvale
