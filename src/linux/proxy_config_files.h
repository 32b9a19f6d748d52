// Finds proxy-core configuration files (clash, mihomo, v2ray, sing-box, ...)
// and pulls the proxy endpoints they name.
#pragma once

#include <string>
#include <vector>

#include "facts/facts.h"
#include "util/environment.h"

namespace corvale {

inline constexpr size_t kMaxConfigFiles = 64;
inline constexpr size_t kMaxConfigFileBytes = 1u << 20;

/// Regular files with a configuration extension (yaml, yml, json, toml, conf,
/// ini, txt) under the proxy-named subdirectories of each root, at most three
/// levels deep. Never follows a symbolic link, so the walk stays inside each
/// root; files over the size bound are skipped. Sorted per directory, roots in
/// the given order, at most kMaxConfigFiles paths.
std::vector<std::string> find_proxy_config_files(const std::vector<std::string>& roots);

/// The user's config and data directories, the home directory, /etc,
/// /usr/local/etc and /opt; for root also every user's config and data
/// directories under /root and /home. HOME, XDG_CONFIG_HOME and XDG_DATA_HOME
/// come from `env`.
std::vector<std::string> default_config_roots(const Environment& env);

/// Endpoints named in each file, with the source "config:{path}". Only the
/// endpoints are kept, never the file's text; a known core's controllers go
/// to `controllers`.
void collect_config_endpoints(const std::vector<std::string>& files,
                              std::vector<ProxyEndpoint>& out,
                              std::vector<ProxyEndpoint>* controllers = nullptr);

}  // namespace corvale
