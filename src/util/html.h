#pragma once

#include <string>
#include <string_view>

namespace corvale {

/// Escapes & " ' < > for HTML text and attribute values.
std::string html_escape(std::string_view text);

/// Untrusted host text (names, paths, replies) for HTML: controls and
/// bidirectional characters shown visibly as on the console (terminal_safe),
/// then escaped; line breaks are kept when `keep_lines`.
std::string html_text(std::string_view untrusted, bool keep_lines = false);

}  // namespace corvale
