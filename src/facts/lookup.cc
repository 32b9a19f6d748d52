#include "facts/lookup.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "util/ip.h"
#include "util/text.h"

namespace corvale {
namespace {

bool is_own_address(std::string_view address, const std::set<std::string>& local_addresses) {
  return local_addresses.contains(std::string(address)) ||
         local_addresses.contains(normalize_ip_text(address)) ||
         std::any_of(local_addresses.begin(), local_addresses.end(),
                     [&](const std::string& own) { return normalize_ip_text(own) == address; });
}

// `address` is normalised; the connection reaches the listener's socket.
bool accepts_address(const SocketEntry& listener, const std::string& address,
                     const std::set<std::string>& local_addresses) {
  std::string bound = normalize_ip_text(listener.local_address);
  if (bound.empty()) return false;
  if (bound == address) return true;
  auto ip = parse_ip(address);
  if (!ip || !is_unspecified_ip(bound)) return false;
  // An unspecified bind only takes what the kernel delivers locally.
  if (!is_loopback_host(address) && !is_unspecified_ip(address) &&
      !is_own_address(address, local_addresses))
    return false;
  if (listener.dual_stack) return true;
  return (bound == "0.0.0.0") == ip->is_v4();
}

}  // namespace

const Adapter* find_adapter(const Facts& facts, uint32_t if_index) {
  for (const auto& a : facts.adapters)
    if (a.if_index == if_index) return &a;
  return nullptr;
}

std::optional<std::string> adapter_name(const Facts& facts, uint32_t if_index) {
  const Adapter* a = find_adapter(facts, if_index);
  if (!a) return std::nullopt;
  return a->name;
}

std::string adapter_label(const Facts& facts, uint32_t if_index) {
  return adapter_name(facts, if_index).value_or(fmt::format("ifIndex {}", if_index));
}

std::optional<std::string> process_name(const Facts& facts, uint32_t pid) {
  auto it = facts.processes_by_pid.find(pid);
  if (it == facts.processes_by_pid.end()) return std::nullopt;
  return it->second.name;
}

std::string endpoint_text(std::string_view host, uint16_t port) {
  if (host.find(':') != std::string_view::npos) return fmt::format("[{}]:{}", host, port);
  return fmt::format("{}:{}", host, port);
}

std::string speed_text(uint64_t bps) {
  if (bps == 0) return "0 bps";
  static constexpr std::pair<double, const char*> kUnits[] = {
      {1e12, "Tbps"}, {1e9, "Gbps"}, {1e6, "Mbps"}, {1e3, "Kbps"}};
  double v = static_cast<double>(bps);
  for (const auto& [size, unit] : kUnits) {
    if (size > v) continue;
    double q = v / size;
    if (std::fabs(q - std::round(q)) < 1e-9) return fmt::format("{} {}", std::llround(q), unit);
    return fmt::format("{:.1f} {}", q, unit);
  }
  return fmt::format("{} bps", bps);
}

bool is_local_host(const Facts& facts, std::string_view host) {
  std::string n = normalize_ip_text(host);
  return is_loopback_host(host) || is_loopback_host(n) || is_unspecified_ip(n) ||
         facts.local_addresses.contains(std::string(host)) || facts.local_addresses.contains(n) ||
         facts.local_names.contains(to_lower(host));
}

std::vector<std::string> connect_addresses(std::string_view host,
                                           const std::vector<std::string>& resolved) {
  std::string n = normalize_ip_text(host);
  if (parse_ip(n)) return {n};
  if (n == "localhost") return {"127.0.0.1", "::1"};
  std::vector<std::string> out;
  for (const auto& r : resolved)
    if (parse_ip(r)) out.push_back(normalize_ip_text(r));
  return out;
}

bool listener_accepts(const SocketEntry& listener, std::string_view host, uint16_t port,
                      const std::set<std::string>& local_addresses,
                      const std::vector<std::string>& resolved) {
  if (listener.local_port != port) return false;
  auto addresses = connect_addresses(host, resolved);
  return std::any_of(addresses.begin(), addresses.end(), [&](const std::string& a) {
    return accepts_address(listener, a, local_addresses);
  });
}

const SocketEntry* accepting_listener(const Facts& facts, std::string_view host, uint16_t port) {
  for (const auto& l : facts.tcp_listeners)
    if (listener_accepts(l, host, port, facts.local_addresses)) return &l;
  return nullptr;
}

}  // namespace corvale
