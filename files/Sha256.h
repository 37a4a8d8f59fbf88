// SHA-256 (FIPS 180-4) of a byte string, for the content hashes a session
// file keeps of its embedded data and of the files it came from.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvex {

// Digest of bytes fed in pieces: Update as often as needed, then Final once.
class TSha256 {
 public:
  TSha256();
  void Update(std::string_view bytes);
  std::array<uint8_t, 32> Final();

 private:
  void Block(const uint8_t* block);
  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes fed so far
};

// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

// True for 64 lower-case hexadecimal digits.
bool IsSha256Hex(std::string_view text);

}  // namespace morvex
