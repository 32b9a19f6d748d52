#include "linux/json_fields.h"

#include "util/text.h"

namespace corvale::json_fields {

nlohmann::json parse_lenient(std::string_view text) {
  if (is_valid_utf8(text)) return nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  std::string clean = decode_utf8_lossy(text);
  return nlohmann::json::parse(clean, nullptr, false);
}

}  // namespace corvale::json_fields
