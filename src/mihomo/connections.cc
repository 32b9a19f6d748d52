// Reads a core's /connections reply into records, once, where the controller
// answers; nothing past this file sees the controller's JSON.
#include <limits>
#include <nlohmann/json.hpp>

#include "mihomo/controller.h"
#include "util/json_depth.h"
#include "util/text.h"

namespace corvale {
namespace {

using json = nlohmann::json;

// A connection record nests three levels; one far deeper is refused whole.
constexpr size_t kMaxConnectionDepth = 32;

std::string text_of(const json& obj, const char* key) {
  auto it = obj.find(key);
  return it != obj.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// mihomo sends numbers such as ports as text, other cores as numbers.
template <typename T>
T number_of(const json& obj, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end()) return 0;
  if (it->is_string()) return parse_uint<T>(it->get<std::string>()).value_or(0);
  if (it->is_number_unsigned() && it->get<uint64_t>() <= std::numeric_limits<T>::max())
    return static_cast<T>(it->get<uint64_t>());
  return 0;
}

CoreConnection connection_of(const json& c) {
  CoreConnection r;
  r.id = text_of(c, "id");
  r.upload = number_of<uint64_t>(c, "upload");
  r.download = number_of<uint64_t>(c, "download");
  r.start = text_of(c, "start");
  if (auto it = c.find("chains"); it != c.end() && it->is_array())
    for (const auto& link : *it)
      if (link.is_string()) r.chains.push_back(link.get<std::string>());
  r.rule = text_of(c, "rule");
  r.rule_payload = text_of(c, "rulePayload");
  auto md = c.find("metadata");
  if (md == c.end() || !md->is_object()) return r;
  r.network = text_of(*md, "network");
  r.inbound_type = text_of(*md, "type");
  r.source_ip = text_of(*md, "sourceIP");
  r.source_port = number_of<uint16_t>(*md, "sourcePort");
  r.destination_ip = text_of(*md, "destinationIP");
  r.destination_port = number_of<uint16_t>(*md, "destinationPort");
  r.inbound_ip = text_of(*md, "inboundIP");
  r.inbound_port = number_of<uint16_t>(*md, "inboundPort");
  r.inbound_name = text_of(*md, "inboundName");
  r.inbound_user = text_of(*md, "inboundUser");
  r.host = text_of(*md, "host");
  r.dns_mode = text_of(*md, "dnsMode");
  r.uid = number_of<uint32_t>(*md, "uid");
  // mihomo names the field "process"; older clash cores "processName".
  r.process = text_of(*md, "processName");
  if (r.process.empty()) r.process = text_of(*md, "process");
  r.process_path = text_of(*md, "processPath");
  // sing-box appends the owning user's name: "/usr/bin/curl (alice)".
  if (r.process_path.ends_with(")"))
    if (size_t open = r.process_path.rfind(" ("); open != std::string::npos && open > 0)
      r.process_path.resize(open);
  r.special_proxy = text_of(*md, "specialProxy");
  r.special_rules = text_of(*md, "specialRules");
  r.remote_destination = text_of(*md, "remoteDestination");
  r.sniff_host = text_of(*md, "sniffHost");
  return r;
}

}  // namespace

std::vector<CoreConnection> parse_connections(std::string_view body) {
  std::vector<CoreConnection> out;
  json doc = json::parse(decode_utf8_lossy(body), nullptr, false);
  if (!doc.is_object()) return out;
  auto it = doc.find("connections");
  if (it == doc.end() || !it->is_array()) return out;
  for (const auto& c : *it)
    if (c.is_object() && json_depth_at_most(c, kMaxConnectionDepth))
      out.push_back(connection_of(c));
  return out;
}

}  // namespace corvale
