// The pieces of the report's detail view: tables, key/value lists, the
// collapsible sections and the value formats they use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facts/facts.h"

namespace corvale {

using TableRow = std::vector<std::string>;

/// A table with escaped headers and cells, or the "no data" marker for no rows.
std::string html_table(const std::vector<std::string>& headers, const std::vector<TableRow>& rows);

/// "<div class="kv">…</div>" of key/value pairs, values escaped.
std::string kv_list(const std::vector<std::pair<std::string, std::string>>& pairs);

/// A collapsed <details> section; `summary` is escaped, `body` is markup.
std::string detail_section(std::string_view summary, std::string_view body);

/// Shortest decimal that reads back to `v`, without a trailing ".0".
std::string score_text(double v);

std::string bool_text(bool v);

/// The detail sections of the chain view, in their fixed order.
std::string detail_sections(const Facts& facts);

/// The interception sections that follow the detail sections.
std::string interception_sections(const Facts& facts);

}  // namespace corvale
