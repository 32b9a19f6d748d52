// The graph as the compact JSON object the viewer reads as `window.ND`, and
// the same object in the `--json` copy of a run.
#pragma once

#include <string>
#include <string_view>

#include "graph/graph.h"

namespace corvale {

/// What the viewer receives when the payload cannot be written.
inline constexpr std::string_view kEmptyPayload = R"({"nodes":[],"edges":[]})";

/// Compact JSON with keys in the wire order; optional node keys absent, an
/// item's "detail" null when absent; doubles in shortest round-trip form with
/// a decimal point or exponent, NaN and infinities as null. Safe to place in
/// a <script> element: "</" is written "<\/" and U+2028/U+2029 are escaped.
/// Never fails: returns kEmptyPayload when writing does.
std::string graph_payload_json(const TopologyGraph& graph);

/// `facts_json` (an object) with `payload` added as its last key, "graph",
/// pretty-printed like the facts. Returns `facts_json` unchanged when either
/// text does not parse as an object.
std::string json_with_graph(std::string_view facts_json, std::string_view payload);

/// Appends `text` as a JSON string literal with the escaping above. Invalid
/// UTF-8 bytes become U+FFFD so the result always parses.
void append_json_string(std::string& out, std::string_view text);
/// Appends a double as graph_payload_json writes it.
void append_json_double(std::string& out, double value);

}  // namespace corvale
