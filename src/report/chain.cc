#include "report/chain.h"

#include <fmt/format.h>

#include "report/sha256.h"
#include "util/html.h"

namespace corvale {
namespace {

constexpr std::string_view kConnector =
    "<svg class=\"conn\" width=\"30\" height=\"16\" viewBox=\"0 0 30 16\"><line x1=\"1\" "
    "y1=\"8\" x2=\"21\" y2=\"8\" stroke=\"#3fb950\" stroke-width=\"2\"/><path d=\"M20 3 L28 8 "
    "L20 13\" fill=\"none\" stroke=\"#3fb950\" stroke-width=\"2\" stroke-linecap=\"round\" "
    "stroke-linejoin=\"round\"/></svg>";

// Byte length of the Unicode white-space character at the start of `s`, or 0.
// The set is Unicode's White_Space property.
size_t white_space_length(std::string_view s) {
  auto b = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
  unsigned char c = b(0);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c == 0xC2 && (b(1) == 0x85 || b(1) == 0xA0)) return 2;  // U+0085, U+00A0
  if (c == 0xE1 && b(1) == 0x9A && b(2) == 0x80) return 3;    // U+1680
  if (c == 0xE2 && b(1) == 0x80) {                            // U+2000-200A, U+2028, U+2029, U+202F
    unsigned t = b(2);
    if ((t >= 0x80 && t <= 0x8A) || t == 0xA8 || t == 0xA9 || t == 0xAF) return 3;
  }
  if (c == 0xE2 && b(1) == 0x81 && b(2) == 0x9F) return 3;  // U+205F
  if (c == 0xE3 && b(1) == 0x80 && b(2) == 0x80) return 3;  // U+3000
  return 0;
}

std::string_view hash_head(std::string_view hash) { return hash.substr(0, 14); }

}  // namespace

std::string block_row(std::string_view key, std::string_view value) {
  return fmt::format("<span class=\"k\">{}</span><span class=\"v\">{}</span>", key,
                     html_text(value));
}

std::string normalize_row_text(std::string_view fragment) {
  std::string stripped;
  stripped.reserve(fragment.size());
  bool in_tag = false;
  for (char c : fragment) {
    if (c == '<') {
      in_tag = true;
    } else if (c == '>') {
      in_tag = false;
      stripped += ' ';
    } else if (!in_tag) {
      stripped += c;
    }
  }
  std::string out;
  out.reserve(stripped.size());
  bool pending_space = false;
  std::string_view rest = stripped;
  while (!rest.empty()) {
    if (size_t n = white_space_length(rest)) {
      pending_space = true;
      rest.remove_prefix(n);
      continue;
    }
    // Leading white space is dropped; inner runs become one space.
    if (pending_space && !out.empty()) out += ' ';
    pending_space = false;
    out += rest.front();
    rest.remove_prefix(1);
  }
  return out;
}

std::string block_content(unsigned height, const ChainBlockPlan& plan, std::string_view prev) {
  std::string rows;
  for (size_t i = 0; i < plan.rows.size(); ++i) {
    if (i) rows += "; ";
    rows += normalize_row_text(plan.rows[i]);
  }
  return fmt::format("height={}|title={}|sub={}|rows={}|prev={}", height, plan.title, plan.sub,
                     rows, prev);
}

std::vector<ChainBlock> link_blocks(std::vector<ChainBlockPlan> plans,
                                    std::string_view selected_name) {
  std::vector<ChainBlock> blocks;
  blocks.reserve(plans.size());
  std::string prev(kGenesisHash);
  unsigned height = 1;
  for (auto& plan : plans) {
    ChainBlock b;
    b.selected = !plan.key.empty() && plan.key == selected_name;
    b.height = height++;
    b.prev = prev;
    b.hash = sha256_hex(block_content(b.height, plan, b.prev));
    b.plan = std::move(plan);
    prev = b.hash;
    blocks.push_back(std::move(b));
  }
  return blocks;
}

std::string render_block(const ChainBlock& b) {
  std::string_view pill;
  if (b.plan.status == "OK")
    pill = "<span class=\"pill ok\">OK</span>";
  else if (b.plan.status == "FAIL")
    pill = "<span class=\"pill fail\">FAIL</span>";
  std::string rows;
  for (const auto& r : b.plan.rows) rows += fmt::format("<div class=\"row\">{}</div>", r);
  return fmt::format(
      "<div class=\"{}\">\n"
      "  <div class=\"bhead\"><span class=\"height\">#{}</span>{}</div>\n"
      "  <div class=\"btitle\">{}</div>\n"
      "  <div class=\"bsub\">{}</div>\n"
      "  <div class=\"brows\">{}</div>\n"
      "  <div class=\"bfoot\">\n"
      "    <div class=\"hrow\" title=\"{}\"><span class=\"hlab\">hash</span>"
      "<span class=\"hval\">{}&hellip;</span></div>\n"
      "    <div class=\"hrow\" title=\"{}\"><span class=\"hlab\">prev</span>"
      "<span class=\"hval\">{}&hellip;</span></div>\n"
      "  </div>\n"
      "</div>",
      b.selected ? "block selected" : "block", b.height, pill, html_text(b.plan.title),
      html_text(b.plan.sub), rows, html_escape(b.hash), html_escape(hash_head(b.hash)),
      html_escape(b.prev), html_escape(hash_head(b.prev)));
}

std::string render_blocks(const std::vector<ChainBlock>& blocks) {
  std::string out;
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (i) out += kConnector;
    out += render_block(blocks[i]);
  }
  return out;
}

}  // namespace corvale
