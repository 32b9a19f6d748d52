#include "report/chain.h"

#include <gtest/gtest.h>

#include "report/sha256.h"

namespace corvale {
namespace {

ChainBlockPlan plan(std::string title, std::string sub, std::vector<std::string> rows,
                    std::string status = "") {
  ChainBlockPlan s;
  s.title = std::move(title);
  s.sub = std::move(sub);
  s.rows = std::move(rows);
  s.status = std::move(status);
  return s;
}

size_t count(std::string_view text, std::string_view needle) {
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string_view::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

TEST(ChainNormalize, Table) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {block_row("traffic", "all local TCP/UDP"), "traffic all local TCP/UDP"},
      {"<span class=\"k\">a</span><span class=\"v\">x &amp; y</span>", "a x &amp; y"},
      {"  lead\t\n and   trail  ", "lead and trail"},
      {"no tags", "no tags"},
      {"", ""},
      {"<br>", ""},
      {"a<b>c", "a c"},
      {"unterminated <tag and more", "unterminated"},
      // U+00A0, U+2003, U+3000 and U+0085 are white space; U+200B is not.
      {"a\u00a0\u2003b\u3000c\u0085d\u200be", "a b c d\u200be"},
      {"中文\u2028行", "中文 行"},
  };
  for (const auto& c : cases) EXPECT_EQ(normalize_row_text(c.in), c.out) << c.in;
}

TEST(ChainContent, FirstBlockRowsAndJoin) {
  ChainBlockPlan apps = plan("Applications", "local user apps & system traffic",
                             {block_row("traffic", "all local TCP/UDP")});
  EXPECT_EQ(block_content(1, apps, kGenesisHash),
            "height=1|title=Applications|sub=local user apps & system traffic|rows=traffic all "
            "local TCP/UDP|prev=" +
                std::string(64, '0'));
  ChainBlockPlan two = plan("T", "S", {block_row("a", "1"), block_row("b", "2 < 3")});
  EXPECT_EQ(block_content(7, two, "p"), "height=7|title=T|sub=S|rows=a 1; b 2 &lt; 3|prev=p");
  EXPECT_EQ(block_content(2, plan("T", "S", {}), "p"), "height=2|title=T|sub=S|rows=|prev=p");
  // Title and sub are hashed as stored, not escaped.
  EXPECT_EQ(block_content(1, plan("<a&b>", "'\"", {}), "p"),
            "height=1|title=<a&b>|sub='\"|rows=|prev=p");
}

std::vector<ChainBlockPlan> four_blocks() {
  return {plan("Applications", "local user apps & system traffic",
               {block_row("traffic", "all local TCP/UDP")}),
          plan("Physical NIC", "upstream carrier", {block_row("adapter", "eth0")}, "OK"),
          plan("LAN Gateway", "first hop to ISP", {block_row("ping", "timeout")}, "FAIL"),
          plan("Internet / ISP", "IPv4 reachability", {block_row("probe", "223.5.5.5")}, "OK")};
}

TEST(ChainLink, HashesLinkAndChangesPropagateForwardOnly) {
  auto blocks = link_blocks(four_blocks(), "");
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0].prev, std::string(64, '0'));
  for (size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(blocks[i].height, i + 1);
    EXPECT_EQ(blocks[i].hash.size(), 64u);
    EXPECT_EQ(blocks[i].hash.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(blocks[i].hash,
              sha256_hex(block_content(blocks[i].height, blocks[i].plan, blocks[i].prev)));
    if (i) {
      EXPECT_EQ(blocks[i].prev, blocks[i - 1].hash);
    }
    EXPECT_FALSE(blocks[i].selected);
  }
  // The same input gives the same hashes.
  auto again = link_blocks(four_blocks(), "");
  for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(again[i].hash, blocks[i].hash);

  // One character in block 2 changes blocks 2.. and leaves block 1.
  auto plans = four_blocks();
  plans[1].rows[0] = block_row("adapter", "eth1");
  auto changed = link_blocks(plans, "");
  EXPECT_EQ(changed[0].hash, blocks[0].hash);
  for (size_t i = 1; i < blocks.size(); ++i) EXPECT_NE(changed[i].hash, blocks[i].hash) << i;

  // Status and selection are not part of the content.
  plans = four_blocks();
  plans[1].status = "FAIL";
  plans[1].key = "eth0";
  auto restyled = link_blocks(plans, "eth0");
  EXPECT_TRUE(restyled[1].selected);
  for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(restyled[i].hash, blocks[i].hash);
}

TEST(ChainRender, PillsSelectionHashDisplayAndConnectors) {
  auto plans = four_blocks();
  plans[3].status = "WARN";
  plans[2].status = "";
  plans[1].key = "tun0";
  plans[1].title = "<b>x</b>";
  auto blocks = link_blocks(plans, "tun0");
  std::string html = render_blocks(blocks);
  EXPECT_EQ(count(html, "<svg class=\"conn\""), 3u);
  EXPECT_EQ(count(html, "<div class=\"block"), 4u);
  EXPECT_EQ(count(html, "<div class=\"block selected\">"), 1u);
  EXPECT_EQ(count(html, "class=\"pill"), 1u);  // only the OK of block 2; WARN and empty: none
  EXPECT_NE(html.find("<span class=\"height\">#2</span><span class=\"pill ok\">OK</span>"),
            std::string::npos);
  EXPECT_NE(html.find("<div class=\"btitle\">&lt;b&gt;x&lt;/b&gt;</div>"), std::string::npos);
  EXPECT_NE(html.find("<div class=\"hrow\" title=\"" + std::string(64, '0') +
                      "\"><span class=\"hlab\">prev</span><span "
                      "class=\"hval\">00000000000000&hellip;</span></div>"),
            std::string::npos);
  EXPECT_NE(html.find("<span class=\"hval\">" + blocks[3].hash.substr(0, 14) + "&hellip;"),
            std::string::npos);
  // No connector before the first block or after the last.
  EXPECT_EQ(html.rfind("<div class=\"block", 0), 0u);
  EXPECT_TRUE(html.ends_with("</div>\n</div>"));

  std::string one = render_block(blocks[0]);
  EXPECT_EQ(one.substr(0, one.find("<div class=\"bfoot\">")),
            "<div class=\"block\">\n"
            "  <div class=\"bhead\"><span class=\"height\">#1</span></div>\n"
            "  <div class=\"btitle\">Applications</div>\n"
            "  <div class=\"bsub\">local user apps &amp; system traffic</div>\n"
            "  <div class=\"brows\"><div class=\"row\"><span class=\"k\">traffic</span><span "
            "class=\"v\">all local TCP/UDP</span></div></div>\n  ");
}

}  // namespace
}  // namespace corvale
