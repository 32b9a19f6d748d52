// SHA-256 (FIPS 180-4), used to link the report's chain blocks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvale {

/// Incremental SHA-256 over bytes.
class Sha256 {
 public:
  Sha256();
  void update(std::string_view data);
  /// The 32-byte digest; the object must not be updated afterwards.
  std::array<uint8_t, 32> finish();

 private:
  void compress(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t total_bytes_ = 0;
};

/// The digest of `data` as 64 lower-case hex digits.
std::string sha256_hex(std::string_view data);

}  // namespace corvale
