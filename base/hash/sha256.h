// SHA-256 and HMAC-SHA256, for what the release side publishes and checks:
// a base's digest in a serving plan, a per-download ETag, and the MAC of a
// signed download link. Portable, no allocation, no secret-dependent branch
// or memory access.
//
//   base::Sha256 hash;
//   hash.Update(first); hash.Update(second);
//   std::string hex = base::HexEncode(hash.Finish());
#ifndef BASE_HASH_SHA256_H_
#define BASE_HASH_SHA256_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace base {

inline constexpr size_t kSha256Size = 32;
using Sha256Digest = std::array<uint8_t, kSha256Size>;

// An incremental SHA-256: Update with the message in pieces of any size,
// then Finish once; the object then starts a new message.
class Sha256 {
 public:
  Sha256() { Reset(); }
  void Update(std::span<const uint8_t> bytes);
  Sha256Digest Finish();

 private:
  static constexpr size_t kBlockSize = 64;
  void Reset();
  void Compress(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, kBlockSize> pending_;
  size_t pending_size_ = 0;
  uint64_t length_ = 0;  // in bytes
};

Sha256Digest Sha256Of(std::span<const uint8_t> bytes);

// HMAC with SHA-256; a key longer than one block is hashed first.
Sha256Digest HmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> message);

// Whether the two spans hold the same bytes, in a time that depends on their
// lengths only, for comparing MACs that an attacker chose.
bool ConstantTimeEquals(std::span<const uint8_t> a, std::span<const uint8_t> b);

// Lower-case hexadecimal, two digits a byte.
std::string HexEncode(std::span<const uint8_t> bytes);

}  // namespace base

#endif  // BASE_HASH_SHA256_H_
