// Proxy endpoints named in the text of a proxy-core configuration file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// The text without its comment lines (starting with '#', ';' or "//").
std::string without_comment_lines(std::string_view text);

/// Appends the endpoints that the raw bytes of the configuration file at
/// `path` name, with the source "config:{path}". Only the endpoints are kept,
/// never the text. A known core's file yields only its listener keys, and its
/// controllers go to `controllers` instead.
void config_text_endpoints(std::string_view raw, const std::string& path,
                           std::vector<ProxyEndpoint>& out,
                           std::vector<ProxyEndpoint>* controllers = nullptr);

}  // namespace corvale
