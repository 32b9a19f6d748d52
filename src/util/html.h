#pragma once

#include <string>
#include <string_view>

namespace corvale {

/// Escapes & " ' < > for HTML text and attribute values.
std::string html_escape(std::string_view text);

}  // namespace corvale
