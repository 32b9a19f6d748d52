#include "mihomo/controller.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "facts/lookup.h"
#include "facts/products.h"
#include "parallel/pmap.h"
#include "util/file.h"
#include "util/ip.h"
#include "util/regex.h"
#include "util/text.h"
#include "util/userinfo.h"

namespace corvale {
namespace {

using json = nlohmann::json;

std::string endpoint_label(const ControllerEndpoint& e) {
  if (e.host.starts_with("/")) return "unix:" + e.host;
  if (e.host.find(':') != std::string::npos) return fmt::format("http://[{}]:{}", e.host, e.port);
  return fmt::format("http://{}:{}", e.host, e.port);
}

std::string text_member(const json& obj, const char* key) {
  if (!obj.is_object()) return {};
  auto it = obj.find(key);
  if (it == obj.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

json parse_json(const std::string& body) {
  return json::parse(decode_utf8_lossy(body), nullptr, false);
}

// The version a controller answers /version with: a JSON object naming it.
// A web server that says 200 to any path (a GUI's own single-instance port,
// a local dashboard) is no controller and has none.
std::optional<std::string> answered_version(const HttpResult& r) {
  if (!r || r->status != 200) return std::nullopt;
  json doc = parse_json(r->body);
  auto it = doc.is_object() ? doc.find("version") : doc.end();
  if (it == doc.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// A header value cannot carry control characters; such a secret is not sent.
bool sendable(const std::string& secret) {
  return !secret.empty() && std::none_of(secret.begin(), secret.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
}

// Whether the listening socket behind `e` is known to belong to another
// process: the secret is for the core alone.
bool owned_by_other_process(const ControllerEndpoint& e, uint32_t core_pid,
                            const std::vector<SocketEntry>& tcp_listeners) {
  std::string host = normalize_ip_text(e.host);
  bool other = false;
  for (const auto& l : tcp_listeners) {
    if (l.local_port != e.port || l.pid == 0) continue;
    std::string bound = normalize_ip_text(l.local_address);
    bool reaches = bound == host || is_unspecified_ip(bound) ||
                   (is_loopback_host(bound) && is_loopback_host(host));
    if (!reaches) continue;
    if (l.pid == core_pid) return false;
    other = true;
  }
  return other;
}

// Where a core started without -d/-f reads its file: what its environment
// names, else its user's default.
std::optional<std::string> default_config_path(const std::map<std::string, std::string>& env) {
  auto var = [&](const char* name) -> std::string {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
  };
  if (!var("CLASH_CONFIG_FILE").empty()) return var("CLASH_CONFIG_FILE");
  if (!var("CLASH_HOME_DIR").empty()) return var("CLASH_HOME_DIR") + "/config.yaml";
  if (var("HOME").starts_with("/")) return var("HOME") + "/.config/mihomo/config.yaml";
  return std::nullopt;
}

std::vector<std::string> read_lines(const ControllerFns& fns, const std::string& path) {
  auto text = fns.read_config ? fns.read_config(path) : std::nullopt;
  if (!text || text->empty()) return {};
  std::vector<std::string> lines;
  std::string decoded = decode_utf8_lossy(*text);
  for (auto l : split_lines(decoded)) lines.emplace_back(l);
  return lines;
}

std::vector<std::string> config_lines_for(const ProcessInfo& core, const ControllerFns& fns,
                                          const std::map<std::string, std::string>& env,
                                          bool singbox, std::optional<std::string>& path) {
  // sing-box reads every *.json of -C as one configuration; without -c the
  // directory is all there is.
  std::optional<std::string> dir;
  if (singbox && !cmdline_option(core.command_line, "c") &&
      !cmdline_option(core.command_line, "config"))
    dir = singbox_config_directory(core.command_line);
  path = dir       ? dir
         : singbox ? singbox_config_path(core.command_line)
                   : config_path_from_cmdline(core.command_line);
  if (!path && !singbox) path = default_config_path(env);
  if (!path) return {};
  if (!path->starts_with("/")) {
    // The core resolves a relative path against its own working directory, not ours.
    auto cwd = fns.process_cwd ? fns.process_cwd(core.pid) : std::nullopt;
    if (!cwd || !cwd->starts_with("/")) return {};
    path = (cwd->ends_with("/") ? *cwd : *cwd + "/") + *path;
  }
  if (!dir) return read_lines(fns, *path);
  // The file of the directory that holds the controller stands for it.
  std::vector<std::string> first;
  for (const auto& file :
       fns.list_config_dir ? fns.list_config_dir(*path) : std::vector<std::string>()) {
    auto lines = read_lines(fns, file);
    if (singbox_clash_api(lines).controller) {
      path = file;
      return lines;
    }
    if (first.empty() && !lines.empty()) first = std::move(lines);
  }
  return first;
}

}  // namespace

std::optional<std::string> runtime_tun_device(std::string_view configs_body) {
  json doc = parse_json(std::string(configs_body));
  auto tun = doc.is_object() ? doc.find("tun") : doc.end();
  if (tun == doc.end() || !tun->is_object()) return std::nullopt;
  auto enable = tun->find("enable");
  if (enable == tun->end() || !enable->is_boolean() || !enable->get<bool>()) return std::nullopt;
  std::string device = text_member(*tun, "device");
  // An interface name: at most 15 bytes, no blank or slash.
  constexpr size_t kMaxIfName = 15;
  if (device.empty() || device.size() > kMaxIfName ||
      device.find_first_of(" \t/\n") != std::string::npos)
    return std::nullopt;
  return device;
}

std::optional<ControllerEndpoint> parse_controller_endpoint(std::string_view text) {
  const std::string plain = strip_userinfo(trim_view(text), "");
  std::string_view s = plain;
  if (s.empty()) return std::nullopt;
  if (s.starts_with("http://"))
    s.remove_prefix(7);
  else if (s.starts_with("https://"))
    s.remove_prefix(8);
  s = s.substr(0, s.find_first_of("/?#"));
  std::string_view host = s;
  uint16_t port = 80;
  if (size_t colon = s.rfind(':'); colon != std::string_view::npos) {
    host = s.substr(0, colon);
    port = parse_uint<uint16_t>(s.substr(colon + 1)).value_or(0);
  }
  while (!host.empty() && (host.front() == '[' || host.front() == ']')) host.remove_prefix(1);
  while (!host.empty() && (host.back() == '[' || host.back() == ']')) host.remove_suffix(1);
  if (port == 0) return std::nullopt;
  ControllerEndpoint e{std::string(host), port};
  if (!e.host.empty() && is_unspecified_ip(e.host)) e.host = "127.0.0.1";
  return e;
}

std::vector<std::string> controller_candidates(const std::optional<std::string>& controller_text,
                                               uint32_t pid,
                                               const std::vector<SocketEntry>& tcp_listeners) {
  std::vector<std::string> out;
  if (controller_text && !controller_text->starts_with("\\"))
    out.push_back(strip_userinfo(*controller_text, ""));
  out.push_back("127.0.0.1:9097");
  out.push_back("127.0.0.1:9090");
  for (const auto& l : tcp_listeners) {
    if (pid == 0 || l.pid != pid || l.local_port <= 1024) continue;
    std::string host = normalize_ip_text(l.local_address);
    if (is_unspecified_ip(host) || host == "127.0.0.1")
      out.push_back(fmt::format("127.0.0.1:{}", l.local_port));
    else if (is_loopback_host(host))  // another 127.x or ::1: only reachable there
      out.push_back(endpoint_text(host, l.local_port));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool is_local_controller_host(std::string_view host, const std::set<std::string>& local_addresses) {
  std::string n = normalize_ip_text(host);
  if (n.empty()) return false;
  if (is_loopback_host(n)) return true;
  if (!parse_ip(n)) return false;
  for (const auto& a : local_addresses)
    if (normalize_ip_text(a) == n) return true;
  return false;
}

ControllerFns::ControllerFns()
    : get(controller_get),
      read_config(read_config_file),
      list_config_dir(list_json_files),
      process_cwd([](uint32_t pid) { return read_link(fmt::format("/proc/{}/cwd", pid)); }),
      process_environ(read_core_environ) {}

CoreControllerInfo discover_core(const ProcessInfo& core,
                                 const std::vector<SocketEntry>& tcp_listeners,
                                 const std::set<std::string>& local_addresses,
                                 const ControllerFns& fns) {
  CoreControllerInfo info;
  info.pid = core.pid;
  info.process_name = core.name;
  // The command line overrides the environment's overrides, which override
  // the file, as the core itself decides.
  const std::map<std::string, std::string> env =
      fns.process_environ ? fns.process_environ(core.pid) : std::map<std::string, std::string>();
  const bool singbox = is_singbox_core(process_identity(core));
  std::vector<std::string> lines = config_lines_for(core, fns, env, singbox, info.config_path);

  auto setting = [&](std::initializer_list<std::string_view> options, const char* variable,
                     std::string_view key) -> std::optional<std::string> {
    for (auto option : options)
      if (auto v = cmdline_option(core.command_line, option)) return v;
    if (auto it = env.find(variable); it != env.end()) return it->second;
    return config_value(lines, key);
  };
  info.controller_text = setting({"ext-ctl", "external-controller"},
                                 "CLASH_OVERRIDE_EXTERNAL_CONTROLLER", "external-controller");
  info.tcp_controller_off = info.controller_text && trim_view(*info.controller_text).empty();
  auto unix_path = setting({"ext-ctl-unix"}, "CLASH_OVERRIDE_EXTERNAL_CONTROLLER_UNIX",
                           "external-controller-unix");
  if (unix_path && unix_path->starts_with("/")) info.unix_controller = unix_path;
  // Held only in this frame: it goes into the request header and nowhere else.
  std::string secret = setting({"secret"}, "CLASH_OVERRIDE_SECRET", "secret").value_or("");
  if (singbox) {
    // sing-box takes neither mihomo's options nor its variables: its JSON says all.
    SingboxApi api = singbox_clash_api(lines);
    info.controller_text = api.controller;
    info.tcp_controller_off = api.controller && trim_view(*api.controller).empty();
    info.unix_controller.reset();
    secret = api.secret;
  }
  info.has_secret = !secret.empty();
  info.find_process_mode = config_value(lines, "find-process-mode");
  info.tun_stack = parse_tun_stack(lines);
  info.proxies = parse_proxies(lines);
  info.config_lines = redact_config_lines(std::move(lines), secret);
  // A TCP controller switched off is not looked for on the usual ports.
  if (!info.tcp_controller_off)
    info.endpoint_candidates = controller_candidates(info.controller_text, core.pid, tcp_listeners);

  // Each distinct endpoint on this host is asked once; remote endpoints and
  // ports another process listens on are never contacted.
  std::vector<ControllerEndpoint> to_query;
  // The socket the core named comes first: it answers without the secret.
  if (info.unix_controller) to_query.push_back({*info.unix_controller, 0});
  std::vector<std::optional<size_t>> query_of(info.endpoint_candidates.size());
  for (size_t i = 0; i < info.endpoint_candidates.size(); ++i) {
    const std::string& text = info.endpoint_candidates[i];
    auto e = parse_controller_endpoint(text);
    if (!e) continue;
    if (!e->host.empty() && (!is_local_controller_host(e->host, local_addresses) ||
                             owned_by_other_process(*e, core.pid, tcp_listeners))) {
      info.skipped_endpoints.push_back(text);
      continue;
    }
    auto it = std::find(to_query.begin(), to_query.end(), *e);
    query_of[i] = static_cast<size_t>(it - to_query.begin());
    if (it == to_query.end()) to_query.push_back(*e);
  }

  HeaderList headers;
  if (sendable(secret)) headers.emplace_back("Authorization", "Bearer " + secret);
  auto headers_for = [&](const ControllerEndpoint& e) {
    return e.host.starts_with("/") ? HeaderList() : headers;
  };
  auto replies = pmap(to_query, "mihomo API", [&](const ControllerEndpoint& e) -> HttpResult {
    // An empty host (":9090") names no address to connect to.
    if (e.host.empty() || !fns.get) return std::nullopt;
    return fns.get(e.host, e.port, "/version", headers_for(e), kVersionTimeoutMs);
  });

  std::vector<std::optional<std::string>> versions;
  for (const auto& r : replies) versions.push_back(answered_version(r));
  std::optional<size_t> selected;
  if (info.unix_controller) {
    bool ok = versions[0].has_value();
    info.endpoint_results.push_back({endpoint_label(to_query[0]), ok});
    if (ok) selected = 0;
  }
  for (size_t i = 0; i < query_of.size(); ++i) {
    if (!query_of[i]) continue;
    size_t q = *query_of[i];
    std::string label = endpoint_label(to_query[q]);
    bool ok = versions[q].has_value();
    bool listed = std::any_of(info.endpoint_results.begin(), info.endpoint_results.end(),
                              [&](const ControllerEndpointResult& r) { return r.label == label; });
    if (!listed) info.endpoint_results.push_back({label, ok});
    if (ok && !selected) selected = q;
  }
  if (!selected) return info;

  const ControllerEndpoint& chosen = to_query[*selected];
  info.selected_controller = endpoint_label(chosen);
  info.version = *versions[*selected];
  // The running configuration and the connections, at the same time.
  const std::pair<const char*, uint64_t> resources[] = {{"/configs", kVersionTimeoutMs},
                                                        {"/connections", kConnectionsTimeoutMs}};
  auto answers =
      pmap(std::vector(std::begin(resources), std::end(resources)), "mihomo API",
           [&](const std::pair<const char*, uint64_t>& r) -> HttpResult {
             return fns.get(chosen.host, chosen.port, r.first, headers_for(chosen), r.second);
           });
  if (answers[0] && answers[0]->status == 200)
    info.runtime_tun_device = runtime_tun_device(answers[0]->body);
  if (answers[1] && answers[1]->status == 200)
    info.connections = parse_connections(answers[1]->body);
  return info;
}

}  // namespace corvale
