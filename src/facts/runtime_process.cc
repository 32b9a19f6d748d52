#include "facts/runtime_process.h"

#include <nlohmann/json.hpp>

#include "util/text.h"

namespace corvale {

std::string_view file_name(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::optional<RuntimeProcess> runtime_process_of(std::string_view connection_json) {
  auto conn = nlohmann::json::parse(connection_json, nullptr, false);
  if (conn.is_discarded() || !conn.is_object()) return std::nullopt;
  auto md = conn.find("metadata");
  if (md == conn.end() || !md->is_object()) return std::nullopt;
  auto text = [&](const char* key) -> std::string {
    auto it = md->find(key);
    return it != md->end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  RuntimeProcess r;
  r.process_path = decode_utf8_lossy(text("processPath"));
  // mihomo names the field "process"; older clash cores "processName".
  r.process_name = decode_utf8_lossy(text("processName"));
  if (r.process_name.empty()) r.process_name = decode_utf8_lossy(text("process"));
  if (auto port = parse_uint<uint16_t>(text("sourcePort"))) r.source_port = *port;
  auto it = md->find("sourcePort");
  if (it != md->end() && it->is_number_unsigned() && it->get<uint64_t>() <= 65535)
    r.source_port = static_cast<uint16_t>(it->get<uint64_t>());
  if (r.process_path.empty() && r.process_name.empty()) return std::nullopt;
  return r;
}

}  // namespace corvale
