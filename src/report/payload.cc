#include "report/payload.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <nlohmann/json.hpp>

#include "util/text.h"

namespace corvale {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
size_t utf8_sequence_length(std::string_view s) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  auto cont = [&](size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
  unsigned char c = b(0);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && b(1) < 0xA0) return 0;   // overlong
    if (c == 0xED && b(1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && b(1) < 0x90) return 0;
    if (c == 0xF4 && b(1) >= 0x90) return 0;
    return 4;
  }
  return 0;
}

void append_int(std::string& out, int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void append_uint(std::string& out, uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void append_bool(std::string& out, bool v) { out += v ? "true" : "false"; }

// Writes `"key":` — keys are fixed ASCII words that need no escaping.
void key(std::string& out, std::string_view k, bool first = false) {
  if (!first) out += ',';
  out += '"';
  out += k;
  out += "\":";
}

// The viewer draws these texts as they are: a host text's control or
// bidirectional character is shown as the console shows it, so a name cannot
// reorder or hide what the graph says.
void append_string_field(std::string& out, std::string_view k, std::string_view v,
                         bool first = false) {
  key(out, k, first);
  append_json_string(out, terminal_safe(v));
}

// Details are shared pointers, so a faulty build could nest one inside
// itself; deeper than this the detail is written as absent instead of
// recursing without end.
constexpr int kMaxDetailDepth = 16;

void append_items(std::string& out, const std::vector<NodeItem>& items, int depth);

void append_detail(std::string& out, const ItemDetail& d, int depth) {
  out += '{';
  append_string_field(out, "label", d.label, true);
  append_string_field(out, "sub", d.sub);
  append_string_field(out, "kind", d.kind);
  append_string_field(out, "status", d.status);
  key(out, "items");
  append_items(out, d.items, depth);
  out += '}';
}

void append_item(std::string& out, const NodeItem& item, int depth) {
  out += '{';
  append_string_field(out, "id", item.id, true);
  append_string_field(out, "k", item.k);
  append_string_field(out, "v", item.v);
  append_string_field(out, "status", item.status);
  append_string_field(out, "meta", item.meta);
  append_string_field(out, "role", item.role);
  key(out, "probe");
  append_bool(out, item.probe);
  key(out, "detail");
  if (item.detail && depth < kMaxDetailDepth)
    append_detail(out, *item.detail, depth + 1);
  else
    out += "null";
  out += '}';
}

void append_items(std::string& out, const std::vector<NodeItem>& items, int depth) {
  out += '[';
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    append_item(out, items[i], depth);
  }
  out += ']';
}

// An absent optional field leaves no key at all.
void append_optional_int(std::string& out, std::string_view name,
                         const std::optional<int64_t>& value) {
  if (!value) return;
  key(out, name);
  append_int(out, *value);
}

void append_node(std::string& out, const GraphNode& n) {
  out += '{';
  append_string_field(out, "id", n.id, true);
  append_string_field(out, "label", n.label);
  append_string_field(out, "sub", n.sub);
  append_string_field(out, "kind", n.kind);
  append_string_field(out, "status", n.status);
  key(out, "sel");
  append_bool(out, n.sel);
  key(out, "items");
  append_items(out, n.items, 0);
  append_optional_int(out, "ifIndex", n.ifIndex);
  append_optional_int(out, "layer", n.layer);
  append_optional_int(out, "processId", n.processId);
  if (n.layoutLane) append_string_field(out, "layoutLane", *n.layoutLane);
  out += '}';
}

void append_edge(std::string& out, const GraphEdge& e) {
  out += '{';
  append_string_field(out, "from", e.from, true);
  append_string_field(out, "fromItem", e.fromItem);
  append_string_field(out, "to", e.to);
  append_string_field(out, "kind", e.kind);
  key(out, "dead");
  append_bool(out, e.dead);
  key(out, "bad");
  append_bool(out, e.bad);
  key(out, "confidence");
  append_json_double(out, e.confidence);
  append_string_field(out, "evidence", e.evidence);
  out += '}';
}

void append_interception(std::string& out, const InterceptionSummary& s) {
  out += '{';
  append_string_field(out, "level", level_text(s.level), true);
  append_string_field(out, "displayLevel", level_text(s.displayLevel));
  key(out, "score");
  append_json_double(out, s.score);
  key(out, "signals");
  out += '[';
  for (size_t i = 0; i < s.signals.size(); ++i) {
    if (i) out += ',';
    append_json_string(out, terminal_safe(s.signals[i]));
  }
  out += ']';
  const std::pair<std::string_view, uint64_t> counts[] = {
      {"proxyLikeListeners", s.proxyLikeListeners},
      {"proxyCandidateProcesses", s.proxyCandidateProcesses},
      {"protocolProxyListeners", s.protocolProxyListeners},
      {"protocolProxyProcesses", s.protocolProxyProcesses},
      {"driverHits", s.driverHits},
      {"serviceHits", s.serviceHits},
  };
  for (const auto& [k, v] : counts) {
    key(out, k);
    append_uint(out, v);
  }
  key(out, "routeSourceMismatch");
  append_bool(out, s.routeSourceMismatch);
  out += '}';
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t len = utf8_sequence_length(text.substr(i));
      if (len == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
        continue;
      }
      // U+2028 and U+2029 end a statement in pre-2019 JavaScript engines.
      if (len == 3 && c == 0xE2 && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
          (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
        out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      } else {
        out.append(text.substr(i, len));
      }
      i += len;
      continue;
    }
    // "<!--" followed by "<script" would put the HTML parser in a state where
    // the closing tag no longer ends the element.
    if (c == '<' && text.substr(i, 4) == "<!--") {
      out += "\\u003c";
      ++i;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '/':
        // "</script" inside a string would end the element the payload sits in.
        if (i > 0 && text[i - 1] == '<')
          out += "\\/";
        else
          out += '/';
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

void append_json_double(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  std::string_view s(buf, static_cast<size_t>(r.ptr - buf));
  out += s;
  if (s.find_first_of(".e") == std::string_view::npos) out += ".0";
}

std::string graph_payload_json(const TopologyGraph& g) {
  try {
    std::string out;
    out.reserve(4096 + g.nodes.size() * 512 + g.edges.size() * 160);
    out += '{';
    key(out, "version", true);
    append_json_double(out, g.version);
    append_string_field(out, "profile", g.profile);
    append_string_field(out, "evidenceModel", g.evidenceModel);
    key(out, "interception");
    append_interception(out, g.interception);
    key(out, "tcpSnapshots");
    append_uint(out, g.tcpSnapshots);
    key(out, "limits");
    out += '{';
    key(out, "maxDepth", true);
    append_int(out, g.limits.maxDepth);
    key(out, "maxNodes");
    append_int(out, g.limits.maxNodes);
    key(out, "maxRepeatPerPid");
    append_int(out, g.limits.maxRepeatPerPid);
    out += '}';
    key(out, "nodes");
    out += '[';
    for (size_t i = 0; i < g.nodes.size(); ++i) {
      if (i) out += ',';
      append_node(out, g.nodes[i]);
    }
    out += ']';
    key(out, "edges");
    out += '[';
    for (size_t i = 0; i < g.edges.size(); ++i) {
      if (i) out += ',';
      append_edge(out, g.edges[i]);
    }
    out += "]}";
    return out;
  } catch (const std::exception&) {
    // Only allocation can fail; the rest of the report does not depend on the graph.
    return std::string(kEmptyPayload);
  }
}

std::string json_with_graph(std::string_view facts_json, std::string_view payload) {
  using Json = nlohmann::ordered_json;
  try {
    Json facts = Json::parse(facts_json);
    Json graph = Json::parse(payload);
    if (!facts.is_object() || !graph.is_object()) return std::string(facts_json);
    facts["graph"] = std::move(graph);
    return facts.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  } catch (const std::exception&) {
    return std::string(facts_json);
  }
}

}  // namespace corvale
