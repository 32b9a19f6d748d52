#include "facts/facts_json.h"

#include <nlohmann/json.hpp>

namespace corvale {

std::string facts_to_json(const Facts& facts, const std::string& interception_level) {
  nlohmann::ordered_json j;
  j["hostname"] = facts.hostname;
  j["os_name"] = facts.os_name;
  j["collected_at"] = facts.collected_at;
  j["interception_level"] = interception_level;
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace corvale
