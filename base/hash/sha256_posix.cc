#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>
#include <cstdlib>

#include "base/hash/sha256.h"

namespace base {
namespace {

EVP_MD_CTX* Context(void* object) { return static_cast<EVP_MD_CTX*>(object); }

void Check(bool succeeded) {
  if (!succeeded) std::abort();
}

// A context that has started a new message.
void* NewContext() {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  Check(context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1);
  return context;
}

}  // namespace

void Sha256::HashObjectTraits::Close(Handle object) { EVP_MD_CTX_free(Context(object)); }

Sha256::Sha256() : object_(NewContext()) {}

Sha256::Sha256(const Sha256& other) : object_(EVP_MD_CTX_new()) {
  Check(object_.IsValid() &&
        EVP_MD_CTX_copy_ex(Context(object_.Get()), Context(other.object_.Get())) == 1);
}

Sha256& Sha256::operator=(const Sha256& other) {
  // libcrypto's copy empties its target first.
  if (this != &other) {
    Check(EVP_MD_CTX_copy_ex(Context(object_.Get()), Context(other.object_.Get())) == 1);
  }
  return *this;
}

void Sha256::Update(std::span<const uint8_t> bytes) {
  Check(EVP_DigestUpdate(Context(object_.Get()), bytes.data(), bytes.size()) == 1);
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest;
  Check(EVP_DigestFinal_ex(Context(object_.Get()), digest.data(), nullptr) == 1 &&
        EVP_DigestInit_ex(Context(object_.Get()), EVP_sha256(), nullptr) == 1);
  return digest;
}

Sha256Digest Sha256Of(std::span<const uint8_t> bytes) {
  Sha256Digest digest;
  Check(EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_sha256(), nullptr) == 1);
  return digest;
}

Sha256Digest HmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> message) {
  Sha256Digest mac;
  unsigned int size = 0;
  Check(key.size() <= INT_MAX);
  Check(HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), message.data(), message.size(),
             mac.data(), &size) != nullptr &&
        size == mac.size());
  return mac;
}

bool ConstantTimeEquals(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace base
