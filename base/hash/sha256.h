// SHA-256 and HMAC-SHA256 from the platform's cryptography (libcrypto in the
// native build, BCrypt in the Windows build), for what the release side
// publishes and checks: a base's digest in a serving plan, a per-download
// ETag, and the MAC of a signed download link.
//
// The platform's calls fail only when memory runs out or its installation is
// broken; the process then ends (abort), so that no digest or MAC is ever
// made up.
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

#include "absl/strings/escaping.h"
#include "absl/strings/string_view.h"
#include "base/unique_handle.h"

namespace base {

inline constexpr size_t kSha256Size = 32;
using Sha256Digest = std::array<uint8_t, kSha256Size>;

// An incremental SHA-256: Update with the message in pieces of any size,
// then Finish once; the object then starts a new message. A copy carries on
// from the same state, for messages that share their start.
class Sha256 {
 public:
  Sha256();
  Sha256(const Sha256& other);
  Sha256& operator=(const Sha256& other);
  ~Sha256() = default;

  void Update(std::span<const uint8_t> bytes);
  Sha256Digest Finish();

 private:
  // The platform's hash object (an EVP_MD_CTX, or a BCrypt hash handle).
  struct HashObjectTraits {
    using Handle = void*;
    static Handle Empty() { return nullptr; }
    static bool IsHeld(Handle object) { return object != nullptr; }
    static void Close(Handle object);
  };
  UniqueHandle<HashObjectTraits> object_;
};

Sha256Digest Sha256Of(std::span<const uint8_t> bytes);

// HMAC with SHA-256; a key longer than one block is hashed first.
Sha256Digest HmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> message);

// Whether the two spans hold the same bytes, in a time that depends on their
// lengths only, for comparing MACs that an attacker chose.
bool ConstantTimeEquals(std::span<const uint8_t> a, std::span<const uint8_t> b);

// Lower-case hexadecimal, two digits a byte.
inline std::string HexEncode(std::span<const uint8_t> bytes) {
  return absl::BytesToHexString(
      absl::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace base

#endif  // BASE_HASH_SHA256_H_
