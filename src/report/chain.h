// The default egress chain as hash-linked blocks: each block's SHA-256 covers
// its own content and the hash of the block before it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvale {

/// One block before hashing. `rows` are ready HTML fragments (block_row).
struct ChainBlockPlan {
  std::string key;  // the adapter name of the Tunnel block; empty elsewhere
  std::string title;
  std::string sub;
  std::vector<std::string> rows;
  std::string status;  // "OK", "FAIL" or empty
};

struct ChainBlock {
  ChainBlockPlan plan;
  bool selected = false;
  unsigned height = 0;  // 1-based position
  std::string hash;
  std::string prev;
};

/// The prev of the first block: 64 zeros.
inline constexpr std::string_view kGenesisHash =
    "0000000000000000000000000000000000000000000000000000000000000000";

/// "<span class="k">{key}</span><span class="v">{value}</span>", value escaped.
std::string block_row(std::string_view key, std::string_view value);

/// A row fragment as plain text for hashing: tags dropped (each closing '>'
/// leaves one space), runs of Unicode white space collapsed to one space,
/// ends trimmed; entities stay as written.
std::string normalize_row_text(std::string_view fragment);

/// "height={}|title={}|sub={}|rows={}|prev={}" with the rows normalised and
/// joined by "; ".
std::string block_content(unsigned height, const ChainBlockPlan& plan, std::string_view prev);

/// Numbers and hashes the blocks in order. A block is selected when its key is
/// not empty and equals `selected_name`.
std::vector<ChainBlock> link_blocks(std::vector<ChainBlockPlan> plans,
                                    std::string_view selected_name);

/// One block's markup.
std::string render_block(const ChainBlock& block);
/// The blocks with the arrow connector between neighbours (no wrapper).
std::string render_blocks(const std::vector<ChainBlock>& blocks);

}  // namespace corvale
