#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>

#include "base/hash/secret_bytes.h"
#include "base/hash/sha256.h"
#include "base/win/scoped_handle.h"

namespace base {
namespace {

void Check(NTSTATUS status) {
  if (!BCRYPT_SUCCESS(status)) std::abort();
}

// BCrypt wants writable pointers for bytes it only reads.
PUCHAR In(std::span<const uint8_t> bytes) { return const_cast<PUCHAR>(bytes.data()); }

// A key or a message of an HMAC, which BCrypt takes in one piece.
ULONG Size(std::span<const uint8_t> bytes) {
  if (bytes.size() > ULONG_MAX) std::abort();
  return static_cast<ULONG>(bytes.size());
}

struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle algorithm) { return algorithm != nullptr; }
  static void Close(Handle algorithm) { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
};

// SHA-256 with or without a key (BCRYPT_ALG_HANDLE_HMAC_FLAG), opened once
// for the process; BCrypt's providers may be used by several threads at once.
BCRYPT_ALG_HANDLE Algorithm(ULONG flags) {
  struct Provider {
    explicit Provider(ULONG flags) {
      Check(
          ::BCryptOpenAlgorithmProvider(handle.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr, flags));
    }
    WinUniqueHandle<AlgorithmTraits> handle;
  };
  static const Provider plain(0);
  static const Provider keyed(BCRYPT_ALG_HANDLE_HMAC_FLAG);
  return (flags == 0 ? plain : keyed).handle.Get();
}

// A hash that Finish leaves ready for the next message.
void* NewHash() {
  BCRYPT_HASH_HANDLE hash = nullptr;
  Check(::BCryptCreateHash(Algorithm(0), &hash, nullptr, 0, nullptr, 0, BCRYPT_HASH_REUSABLE_FLAG));
  return hash;
}

}  // namespace

void Sha256::HashObjectTraits::Close(Handle object) { ::BCryptDestroyHash(object); }

Sha256::Sha256() : object_(NewHash()) {}

Sha256::Sha256(const Sha256& other) {
  BCRYPT_HASH_HANDLE copy = nullptr;
  Check(::BCryptDuplicateHash(other.object_.Get(), &copy, nullptr, 0, 0));
  object_.Reset(copy);
}

Sha256& Sha256::operator=(const Sha256& other) {
  if (this != &other) object_ = std::move(Sha256(other).object_);
  return *this;
}

void Sha256::Update(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {  // BCrypt takes less than 4 GiB at a time
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(bytes.size(), ULONG_MAX));
    Check(::BCryptHashData(object_.Get(), In(bytes), piece, 0));
    bytes = bytes.subspan(piece);
  }
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest;
  Check(::BCryptFinishHash(object_.Get(), digest.data(), digest.size(), 0));
  return digest;
}

Sha256Digest Sha256Of(std::span<const uint8_t> bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.Finish();
}

Sha256Digest HmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> message) {
  Sha256Digest mac;
  Check(::BCryptHash(Algorithm(BCRYPT_ALG_HANDLE_HMAC_FLAG), In(key), Size(key), In(message),
                     Size(message), mac.data(), mac.size()));
  return mac;
}

// Windows has no constant-time compare. The two MACs of the inputs under a
// key nobody else knows are compared instead: where they first differ says
// nothing about where the inputs do.
bool ConstantTimeEquals(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  if (a.size() != b.size()) return false;
  SecretBytes key(kSha256Size);
  Check(::BCryptGenRandom(nullptr, key.data(), Size(key.span()), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
  return HmacSha256(key.span(), a) == HmacSha256(key.span(), b);
}

}  // namespace base
