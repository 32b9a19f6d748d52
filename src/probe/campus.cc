#include "probe/campus.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "parallel/pmap.h"
#include "probe/probe.h"
#include "util/json_depth.h"
#include "util/text.h"

namespace corvale {
namespace {

using nlohmann::json;

// Deeper values are not shown: rendering recurses once per level, and the
// portal is a remote host whose reply (up to 4 MB) may nest far enough to
// exhaust the stack.
constexpr size_t kMaxShownDepth = 32;

// Members are texts or numbers in the replies seen so far; whole numbers in
// floating form ("1.7e9") are shown without a fraction.
std::string member_text(const json& obj, const char* name) {
  auto it = obj.find(name);
  if (it == obj.end() || it->is_null()) return {};
  const json& v = *it;
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_unsigned()) return std::to_string(v.get<uint64_t>());
  if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
  if (v.is_number_float()) {
    double d = v.get<double>();
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9e15)
      return std::to_string(static_cast<int64_t>(d));
  }
  if (!json_depth_at_most(v, kMaxShownDepth)) return {};
  return v.dump(-1, ' ', false, json::error_handler_t::replace);
}

CampusLoginInfo login_from_object(const json& obj) {
  CampusLoginInfo info;
  info.recognized = true;
  info.user_name = member_text(obj, "user_name");
  info.online_ip = member_text(obj, "online_ip");
  info.sum_bytes = member_text(obj, "sum_bytes");
  info.sum_seconds = member_text(obj, "sum_seconds");
  info.error = member_text(obj, "error");
  return info;
}

// What the portal said about this host, kept even when the reply names no
// user: a logged-out host gets an error value and nothing else.
CampusLoginInfo error_only(const json& obj) {
  CampusLoginInfo info;
  info.error = member_text(obj, "error");
  return info;
}

}  // namespace

CampusLoginInfo parse_login_status(std::string_view body) {
  std::string_view text = trim_view(body);
  if (text.starts_with("{")) {
    json obj = json::parse(text, nullptr, false);
    if (obj.is_discarded() || !obj.is_object()) return {};
    auto it = obj.find("user_name");
    if (it == obj.end() || !it->is_string() || it->get<std::string>().empty())
      return error_only(obj);
    return login_from_object(obj);
  }
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
    json obj = json::parse(text.substr(open + 1, close - open - 1), nullptr, false);
    if (!obj.is_discarded() && obj.is_object()) return login_from_object(obj);
    return {};
  }
  if (text.find(',') != std::string_view::npos) {
    auto fields = split(text, ',');
    if (fields.size() <= 8) return {};
    CampusLoginInfo info;
    info.recognized = true;
    info.user_name = std::string(fields[0]);
    info.online_ip = std::string(fields[8]);
    info.sum_bytes = std::string(fields[3]);
    info.sum_seconds = std::string(fields[4]);
    return info;
  }
  return {};
}

CampusProbeResult run_campus_probe(int kind, const CampusTargets& t) {
  CampusProbeResult r;
  switch (kind) {
    case 0:
      r.http = http_get(t.portal_host, t.portal_port, "/", {}, t.portal_timeout_ms);
      break;
    case 1:
      r.http = http_get(t.portal_host, t.portal_port, t.login_path, {}, t.login_timeout_ms);
      break;
    case 2:
      r.dns = dns_probe(t.resolver_a, t.dns_timeout_ms);
      break;
    case 3:
      r.dns = dns_probe(t.resolver_b, t.dns_timeout_ms);
      break;
    case 4: {
      r.http = http_get(t.api_host, t.api_port, "/", {}, t.api_timeout_ms);
      // A reply without an HTTP status line means the port is open but does
      // not speak HTTP: tell whether it accepts connections at all.
      if (r.http && r.http->status != 0) break;
      const auto start = std::chrono::steady_clock::now();
      ConnectResult conn = tcp_connect(t.api_host, t.api_port, t.api_tcp_timeout_ms);
      auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      r.tcp_fallback = conn.ok() ? TcpFallback::kConnected : TcpFallback::kFailed;
      if (conn.ok()) r.tcp_ms = static_cast<uint64_t>(took.count());
      break;
    }
    default:
      break;
  }
  return r;
}

CampusProbes probe_campus(const CampusTargets& t) {
  CampusProbes out;
  const std::vector<std::string> hosts = {t.portal_host, t.resolver_a, t.resolver_b, t.api_host};
  auto pings = pmap(hosts, "ZEK reachability", [](const std::string& h) { return ping_probe(h); });
  for (size_t i = 0; i < hosts.size(); ++i) out.reachability.push_back({hosts[i], pings[i]});

  std::vector<int> kinds;
  for (int k = 0; k < kCampusProbeKinds; ++k) kinds.push_back(k);
  out.probes = pmap(kinds, "ZEK probes", [&t](int k) { return run_campus_probe(k, t); });
  read_campus_replies(out);
  return out;
}

void read_campus_replies(CampusProbes& c) {
  if (c.probes.size() < 2) return;
  if (const auto& portal = c.probes[0].http) {
    c.portal_ok = portal->status == 200;
    c.portal_title = html_title(portal->body);
  }
  if (const auto& login = c.probes[1].http) c.login = parse_login_status(login->body);
}

}  // namespace corvale
