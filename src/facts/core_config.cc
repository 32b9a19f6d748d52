#include "facts/core_config.h"

#include <nlohmann/json.hpp>

#include "util/regex.h"
#include "util/text.h"

namespace corvale {
namespace {

using Json = nlohmann::json;

// A YAML scalar after "key:": quoted text between its quotes, a plain one up
// to a " #" comment.
std::string yaml_scalar(std::string_view raw) {
  std::string_view v = trim_view(raw);
  if (!v.empty() && (v.front() == '"' || v.front() == '\'')) {
    size_t close = v.find(v.front(), 1);
    return std::string(close == std::string_view::npos ? v.substr(1) : v.substr(1, close - 1));
  }
  size_t hash = v.find(" #");
  return trim(v.substr(0, hash));
}

// The local address a listener bound to `listen` is reached at.
std::string reach_host(std::string_view listen) {
  std::string h = trim(listen);
  if (h.empty() || h == "*" || h == "0.0.0.0" || h == "::" || h == "[::]") return "127.0.0.1";
  if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  return h;
}

void add_listener(CoreConfigEndpoints& out, const std::string& source, std::string_view listen,
                  std::string_view scheme, std::string_view port_text) {
  auto port = parse_uint<uint16_t>(trim_view(port_text));
  if (!port || *port == 0) return;
  out.listeners.push_back({source, reach_host(listen), std::string(scheme), *port});
}

void add_controller(CoreConfigEndpoints& out, const std::string& source, std::string_view text) {
  std::string v = trim(text);
  if (v.starts_with("http://")) v = v.substr(7);
  size_t colon = v.rfind(':');
  if (v.empty() || colon == std::string::npos) return;
  auto port = parse_uint<uint16_t>(std::string_view(v).substr(colon + 1));
  if (!port || *port == 0) return;
  out.controllers.push_back({source, reach_host(std::string_view(v).substr(0, colon)), "", *port});
}

// The scheme a client uses on each of mihomo's listener keys; redirect and
// transparent ports take no client protocol.
std::string_view mihomo_scheme(std::string_view key) {
  if (key == "port" || key == "http") return "http";
  if (key == "socks-port" || key == "socks" || key == "socks5") return "socks5";
  return "";
}

std::optional<CoreConfigEndpoints> mihomo_yaml(std::string_view text, const std::string& source) {
  static const Regex& top = static_regex(R"(^([A-Za-z][A-Za-z0-9_-]*)\s*:(.*)$)");
  static const Regex& item = static_regex(R"(^\s*-\s*(?:([A-Za-z_-]+)\s*:(.*))?$)");
  static const Regex& field = static_regex(R"(^\s+([A-Za-z_-]+)\s*:(.*)$)");
  static const Regex& known = static_regex(
      "^(mixed-port|socks-port|redir-port|tproxy-port|external-controller|"
      "external-controller-unix|proxies|proxy-groups|proxy-providers|listeners)$");
  CoreConfigEndpoints out;
  bool is_core = false;
  std::string bind;
  std::string block;
  struct Entry {
    std::string type, listen, port;
  };
  std::vector<Entry> entries;
  std::vector<std::pair<std::string, std::string>> ports;
  for (std::string_view raw : split_lines(text)) {
    std::string line(raw.substr(0, raw.find_last_not_of("\r") + 1));
    if (trim_view(line).starts_with("#")) continue;
    if (auto m = top.find(line)) {
      std::string key(m->str(1));
      std::string value = yaml_scalar(m->str(2));
      block = key;
      if (known.is_match(key)) is_core = true;
      if (key == "port" || key == "socks-port" || key == "mixed-port" || key == "redir-port" ||
          key == "tproxy-port")
        ports.emplace_back(key, value);
      if (key == "bind-address") bind = value;
      if (key == "external-controller") {
        if (value.empty()) out.tcp_controller_off = true;
        add_controller(out, source, value);
      }
      if (key == "external-controller-unix" && !value.empty())
        out.controllers.push_back({source, value, "unix", 0});
      continue;
    }
    if (block != "listeners") continue;
    if (auto m = item.find(line)) {
      entries.emplace_back();
      if (!m->group(1)) continue;
      line = "  " + std::string(m->str(1)) + ":" + std::string(m->str(2));
    }
    auto f = field.find(line);
    if (!f || entries.empty()) continue;
    std::string key(f->str(1));
    if (key == "type") entries.back().type = yaml_scalar(f->str(2));
    if (key == "listen") entries.back().listen = yaml_scalar(f->str(2));
    if (key == "port") entries.back().port = yaml_scalar(f->str(2));
  }
  if (!is_core) return std::nullopt;
  for (const auto& [key, value] : ports) add_listener(out, source, bind, mihomo_scheme(key), value);
  for (const auto& e : entries) add_listener(out, source, e.listen, mihomo_scheme(e.type), e.port);
  return out;
}

std::string json_text(const Json& obj, const char* key) {
  auto it = obj.find(key);
  return it != obj.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<CoreConfigEndpoints> singbox_json(std::string_view text, const std::string& source) {
  Json doc = Json::parse(text, nullptr, false, true);
  if (!doc.is_object() || !(doc.contains("inbounds") || doc.contains("outbounds"))) return {};
  CoreConfigEndpoints out;
  if (auto in = doc.find("inbounds"); in != doc.end() && in->is_array()) {
    for (const auto& i : *in) {
      if (!i.is_object()) continue;
      auto port = i.find("listen_port");
      if (port == i.end() || !port->is_number_unsigned()) continue;
      std::string type = json_text(i, "type");
      std::string_view scheme = type == "http" ? "http" : type == "socks" ? "socks5" : "";
      add_listener(out, source, json_text(i, "listen"), scheme,
                   std::to_string(port->get<uint64_t>()));
    }
  }
  if (auto ex = doc.find("experimental"); ex != doc.end() && ex->is_object()) {
    if (auto api = ex->find("clash_api"); api != ex->end() && api->is_object()) {
      std::string ctl = json_text(*api, "external_controller");
      if (ctl.empty()) out.tcp_controller_off = true;
      add_controller(out, source, ctl);
    }
  }
  return out;
}

}  // namespace

std::optional<CoreConfigEndpoints> core_config_endpoints(std::string_view text,
                                                         const std::string& source) {
  std::string_view t = trim_view(text);
  if (t.starts_with("{")) return singbox_json(t, source);
  return mihomo_yaml(text, source);
}

}  // namespace corvale
