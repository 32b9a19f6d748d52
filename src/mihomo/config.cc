// Reading a core's command line and its YAML configuration: only the few
// scalar keys and the two blocks we report, matched line by line.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "mihomo/controller.h"
#include "util/regex.h"
#include "util/text.h"

namespace corvale {
namespace {

// A YAML scalar as written after "key:": a quoted value is taken between its
// quotes, a plain one ends at a " #" comment.
std::string scalar_value(std::string_view raw) {
  std::string_view v = trim_view(raw);
  if (!v.empty() && (v.front() == '"' || v.front() == '\'')) {
    size_t close = v.find(v.front(), 1);
    if (close != std::string_view::npos) {
      std::string_view rest = trim_view(v.substr(close + 1));
      if (rest.empty() || rest.front() == '#') return std::string(v.substr(1, close - 1));
    }
    return std::string(v);
  }
  for (size_t i = 1; i < v.size(); ++i) {
    if (v[i] == '#' && (v[i - 1] == ' ' || v[i - 1] == '\t')) return trim(v.substr(0, i));
  }
  return std::string(v);
}

// A line that starts a new top-level mapping key and so ends a block. List
// items written at column 0 ("- name: a") belong to the block above.
bool is_top_level_key(std::string_view line) {
  if (line.starts_with("-")) return false;
  return static_regex(R"(^[^\s#][^:]*\s*:)").is_match(line);
}

// Index range of the lines inside the top-level block opened by `opener`.
std::pair<size_t, size_t> block_range(const std::vector<std::string>& lines, const Regex& opener) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!opener.is_match(lines[i])) continue;
    size_t end = i + 1;
    while (end < lines.size() && !is_top_level_key(lines[end])) ++end;
    return {i + 1, end};
  }
  return {0, 0};
}

void set_once(std::string& field, std::string value) {
  if (field.empty()) field = std::move(value);
}

void set_proxy_field(ProxyEntry& e, std::string_view key, std::string value) {
  if (key == "type") set_once(e.type, std::move(value));
  if (key == "server") set_once(e.server, std::move(value));
  if (key == "port") set_once(e.port, std::move(value));
}

// "- {name: a, type: ss, server: h, port: 1}", the compact form subscription
// converters write; values holding commas are not expected in these fields.
std::optional<ProxyEntry> parse_flow_entry(std::string_view line) {
  static const Regex& flow = static_regex(R"(^\s*-\s*\{(.*)\}\s*$)");
  auto m = flow.find(line);
  if (!m) return std::nullopt;
  ProxyEntry e;
  bool named = false;
  for (auto part : split(m->str(1), ',')) {
    size_t colon = part.find(':');
    if (colon == std::string_view::npos) continue;
    std::string key = trim(part.substr(0, colon));
    std::string value = scalar_value(part.substr(colon + 1));
    if (key == "name" && !named) {
      e.name = std::move(value);
      named = true;
    } else {
      set_proxy_field(e, key, std::move(value));
    }
  }
  if (!named) return std::nullopt;
  return e;
}

}  // namespace

std::optional<std::string> cmdline_option(std::string_view cmdline, std::string_view name) {
  auto re = Regex::compile(R"((?:^|\s)--?)" + regex_escape(name) +
                           R"re((?:=|\s+)(?:"([^"]*)"|([^\s]+)))re");
  if (!re) return std::nullopt;
  auto m = re->find(cmdline);
  if (!m) return std::nullopt;
  if (auto quoted = m->group(1)) return std::string(*quoted);
  return std::string(m->str(2));
}

std::optional<std::string> config_value(const std::vector<std::string>& lines,
                                        std::string_view key) {
  std::string pattern = "^";
  pattern += regex_escape(key);
  pattern += R"(\s*:\s*(.*?)\s*$)";
  auto re = Regex::compile(pattern);
  if (!re) return std::nullopt;
  for (const auto& line : lines) {
    if (auto m = re->find(line)) return scalar_value(m->str(1));
  }
  return std::nullopt;
}

std::optional<std::string> parse_tun_stack(const std::vector<std::string>& lines) {
  static const Regex& stack = static_regex(R"(^\s+stack\s*:\s*(.*?)\s*$)");
  auto [begin, end] = block_range(lines, static_regex(R"(^tun\s*:\s*$)"));
  for (size_t i = begin; i < end; ++i) {
    if (auto m = stack.find(lines[i])) return scalar_value(m->str(1));
  }
  return std::nullopt;
}

std::vector<ProxyEntry> parse_proxies(const std::vector<std::string>& lines) {
  static const Regex& entry = static_regex(R"(^\s*-\s+name\s*:\s*(.*?)\s*$)");
  static const Regex& field = static_regex(R"(^\s+(type|server|port)\s*:\s*(.*?)\s*$)");
  auto [begin, end] = block_range(lines, static_regex(R"(^proxies\s*:\s*$)"));
  std::vector<ProxyEntry> out;
  bool open = false;  // fields only attach to an entry started by "- name:"
  for (size_t i = begin; i < end; ++i) {
    const std::string& line = lines[i];
    if (auto m = entry.find(line)) {
      out.push_back(ProxyEntry{scalar_value(m->str(1)), "", "", ""});
      open = true;
    } else if (auto flow = parse_flow_entry(line)) {
      out.push_back(std::move(*flow));
      open = false;
    } else if (auto f = field.find(line); f && open) {
      set_proxy_field(out.back(), f->str(1), scalar_value(f->str(2)));
    } else if (trim_view(line).starts_with("-")) {
      open = false;  // an entry of another shape
    }
  }
  return out;
}

namespace {

// `dir` + "/" + `name`, however many slashes end `dir` ("/" stays the root).
std::string in_folder(std::string dir, std::string_view name) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir == "/") dir.clear();
  return dir + "/" + std::string(name);
}

}  // namespace

std::optional<std::string> config_path_from_cmdline(std::string_view cmdline) {
  auto f = cmdline_option(cmdline, "f");
  auto d = cmdline_option(cmdline, "d");
  if (f && f->starts_with("/")) return f;
  if (f && d) return in_folder(*d, *f);
  if (f) return f;
  if (d) return in_folder(*d, "config.yaml");
  return std::nullopt;
}

namespace {

// sing-box changes to -D/--directory before it reads its configuration.
std::string in_working_directory(std::string_view cmdline, std::string path) {
  auto dir = cmdline_option(cmdline, "D");
  if (!dir) dir = cmdline_option(cmdline, "directory");
  if (path.starts_with("/") || !dir) return path;
  return in_folder(*dir, path);
}

}  // namespace

std::optional<std::string> singbox_config_path(std::string_view cmdline) {
  std::string file = cmdline_option(cmdline, "c")
                         .value_or(cmdline_option(cmdline, "config").value_or("config.json"));
  return in_working_directory(cmdline, file);
}

std::optional<std::string> singbox_config_directory(std::string_view cmdline) {
  auto dir = cmdline_option(cmdline, "C");
  if (!dir) dir = cmdline_option(cmdline, "config-directory");
  if (!dir || dir->empty()) return std::nullopt;
  return in_working_directory(cmdline, *dir);
}

SingboxApi singbox_clash_api(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  auto doc = nlohmann::json::parse(text, nullptr, false, true);
  SingboxApi api;
  if (!doc.is_object()) return api;
  auto ex = doc.find("experimental");
  if (ex == doc.end() || !ex->is_object()) return api;
  auto clash = ex->find("clash_api");
  if (clash == ex->end() || !clash->is_object()) return api;
  auto text_of = [&](const char* key) {
    auto it = clash->find(key);
    return it != clash->end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  api.controller = text_of("external_controller");
  api.secret = text_of("secret");
  return api;
}

std::vector<std::string> redact_config_lines(std::vector<std::string> lines,
                                             const std::string& secret) {
  // Values of credential keys, in block ("password: x") and flow
  // ("{password: x}") form. A quoted value ends at its closing quote; a plain
  // one ends at ',' or '}' in flow form, but in block form it may hold ',',
  // '}' or '#', so it is masked to the end of the line.
  static const Regex& credential = static_regex(
      R"re((?i)(?:([{,]\s*)|(^|[\s-]))((?:secret|password|passwd|uuid|private-key|pre-shared-key|auth-str|token|psk|obfs-password)\s*:\s*)(?:"(?:[^"\\]++|\\.)*+"|'[^']*+'|(?(1)[^,}]++|\S.*+)))re");
  constexpr std::string_view kMask = "<redacted>";
  for (auto& line : lines) {
    // A matcher failure leaves nothing of the line known to be clean.
    line = credential.replace_all(line, "$1$2$3<redacted>").value_or(std::string(kMask));
    // Very short secrets would mask half the file; their own key is enough.
    if (secret.size() < 4) continue;
    for (size_t at = line.find(secret); at != std::string::npos; at = line.find(secret, at)) {
      line.replace(at, secret.size(), kMask);
      at += kMask.size();
    }
  }
  return lines;
}

}  // namespace corvale
