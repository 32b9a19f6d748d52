#include "facts/runtime_process.h"

#include "util/text.h"

namespace corvale {

std::string_view file_name(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::optional<RuntimeProcess> runtime_process_of(const CoreConnection& conn) {
  if (conn.process_path.empty() && conn.process.empty()) return std::nullopt;
  return RuntimeProcess{conn.process_path, conn.process, conn.source_port};
}

std::string connection_summary(const CoreConnection& conn) {
  std::string head = !conn.rule.empty() && !conn.rule_payload.empty()
                         ? conn.rule + ":" + conn.rule_payload
                         : conn.rule;
  std::string chain = join(conn.chains, " / ");
  if (!head.empty() && !chain.empty()) return head + " -> " + chain;
  return chain.empty() ? head : chain;
}

}  // namespace corvale
