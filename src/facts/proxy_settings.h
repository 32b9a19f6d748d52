// Proxy endpoints named in settings, environment values and configuration
// text, with every credential removed before anything is kept.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "facts/facts.h"

namespace corvale {

/// Removes the user-info part ("user:pass@", "user@") of every URL, whatever
/// its scheme, and of bare "user:pass@host:port" forms (strip_userinfo: a
/// credential runs to the last '@' of its token, so a password holding '@',
/// ':', '/', '?' or '#' leaves nothing behind), then masks secret-like
/// "name=value" pairs.
std::string redact_proxy_credentials(std::string_view text);

/// Appends the (scheme, host, port) endpoints named in `text`, each once per
/// source. Credentials are removed first; ports 0 and above 65535 are skipped.
void extract_proxy_endpoints(std::string_view text, const std::string& source,
                             std::vector<ProxyEndpoint>& out);

/// Lower-case, trimmed scheme text.
std::string normalize_scheme(std::string_view scheme);

/// TCP listeners whose port is named in `proxy_server`; nothing unless the
/// setting is enabled.
std::vector<SocketEntry> configured_listener_ports(const ProxySettings& settings,
                                                   const std::vector<SocketEntry>& tcp_listeners);

/// A process command line fit to be written out: values of secret-like
/// options (secret, password, token, key, auth, ...) and URL user-info are
/// replaced by "***".
std::string redact_command_line(std::string_view command_line);

}  // namespace corvale
