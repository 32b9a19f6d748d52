#include "report/sha256.h"

#include <gtest/gtest.h>

namespace corvale {
namespace {

// FIPS 180-4 / NIST example vectors.
TEST(Sha256, StandardVectors) {
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
       "lmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) EXPECT_EQ(sha256_hex(c.message), c.digest) << c.message.size();
}

std::string letters(size_t n) {
  std::string msg;
  for (size_t i = 0; i < n; ++i) msg += static_cast<char>('a' + i % 26);
  return msg;
}

std::string hex_of(const std::array<uint8_t, 32>& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 0xF];
  }
  return hex;
}

// Lengths around the padding boundaries (55/56 bytes leave or need a second
// padding block), checked against Python's hashlib, and the same messages fed
// in uneven pieces.
TEST(Sha256, PaddingBoundariesAndIncrementalInput) {
  struct Case {
    size_t length;
    const char* digest;
  } cases[] = {
      {55, "595615dbe4f0f407ae397d08b4c2cb870cb9b0e11937416f950c5160acf9c005"},
      {56, "784f623b787495078e93ff28a25b581df0584055a7e71d8cd90c454716b92f51"},
      {57, "808f0738aa4401bdee842e5a15a7baad5809f976d8eb6f9bd2683cebd2e8d671"},
      {63, "5ca3e1ef5207490eac01a795e5cc94d59582a5118bf9534665c8668d87aa647c"},
      {64, "2fcd5a0d60e4c941381fcc4e00a4bf8be422c3ddfafb93c809e8d1e2bfffae8e"},
      {65, "1b3cd1877ab2f2f19f7be001722554f336cb799df0329de0bb4c118dc6abc06d"},
      {119, "faef67da856d6fd9c8d12f9ed0a4fefd3cf0ce085ab43e2907418d457e3c354b"},
      {120, "c9512b08619c19fbb503c7da6b46ef20301e5f7a7a5f43989182398536f5c5c8"},
      {128, "6c05be2c4268843ae47e68e611277ce62c02153f2f4d2e1e2a1a4b44f766cf74"},
  };
  for (const auto& c : cases) {
    std::string msg = letters(c.length);
    EXPECT_EQ(sha256_hex(msg), c.digest) << c.length;
    for (size_t piece : {1u, 3u, 63u, 64u, 65u}) {
      Sha256 h;
      for (size_t off = 0; off < msg.size(); off += piece)
        h.update(std::string_view(msg).substr(off, piece));
      EXPECT_EQ(hex_of(h.finish()), c.digest) << c.length << " in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace corvale
