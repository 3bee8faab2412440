// MD5 message digest (RFC 1321), the program's own implementation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

class Md5Context {
 public:
  Md5Context();
  // Processes `length` bytes; any split of a message gives the same digest.
  void Update(const std::uint8_t* data, std::uint32_t length);
  // Pads, appends the bit count, stores the digest, then clears the working
  // state (the digest stays readable).
  void Finalize();
  const std::uint8_t* Digest() const { return digest_; }

 private:
  std::uint32_t state_[4];
  std::uint32_t count_[2];  // bits processed, mod 2^64, low word first
  std::uint8_t buffer_[64];
  std::uint8_t digest_[16];
};

// 32 lower-case hexadecimal digits of the file's digest, or nothing when the
// file cannot be opened or read.
std::optional<std::string> DigestFile(std::string_view path);
std::string DigestToHex(const std::uint8_t digest[16]);

}  // namespace qm
