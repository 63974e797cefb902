#include "base/hash/sha256.h"

#include <algorithm>

namespace base {
namespace {

constexpr std::array<uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t RotateRight(uint32_t value, int bits) {
  return (value >> bits) | (value << (32 - bits));
}

uint32_t LoadBe32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
         uint32_t{bytes[3]};
}

}  // namespace

void Sha256::Reset() {
  state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  pending_size_ = 0;
  length_ = 0;
}

void Sha256::Compress(const uint8_t* block) {
  std::array<uint32_t, 64> w;
  for (size_t i = 0; i < 16; ++i) w[i] = LoadBe32(block + 4 * i);
  for (size_t i = 16; i < 64; ++i) {
    const uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
  for (size_t i = 0; i < 64; ++i) {
    const uint32_t s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
    const uint32_t choice = (e & f) ^ (~e & g);
    const uint32_t t1 = h + s1 + choice + kRoundConstants[i] + w[i];
    const uint32_t s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
    const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + s0 + majority;
  }
  state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d;
  state_[4] += e, state_[5] += f, state_[6] += g, state_[7] += h;
}

void Sha256::Update(std::span<const uint8_t> bytes) {
  length_ += bytes.size();
  if (pending_size_ > 0) {
    const size_t taken = std::min(bytes.size(), kBlockSize - pending_size_);
    std::copy_n(bytes.begin(), taken, pending_.begin() + pending_size_);
    pending_size_ += taken;
    bytes = bytes.subspan(taken);
    if (pending_size_ < kBlockSize) return;
    Compress(pending_.data());
    pending_size_ = 0;
  }
  while (bytes.size() >= kBlockSize) {
    Compress(bytes.data());
    bytes = bytes.subspan(kBlockSize);
  }
  std::copy(bytes.begin(), bytes.end(), pending_.begin());
  pending_size_ = bytes.size();
}

Sha256Digest Sha256::Finish() {
  const uint64_t bit_length = length_ * 8;
  // A 0x80 byte, zeros up to 8 bytes short of a block's end, the bit length.
  std::array<uint8_t, kBlockSize + 8> padding = {0x80};
  const size_t zeros_end = pending_size_ < 56 ? 56 - pending_size_ : 120 - pending_size_;
  for (int i = 0; i < 8; ++i) {
    padding[zeros_end + i] = static_cast<uint8_t>(bit_length >> (56 - 8 * i));
  }
  Update(std::span<const uint8_t>(padding.data(), zeros_end + 8));
  Sha256Digest digest;
  for (size_t i = 0; i < state_.size(); ++i) {
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(state_[i] >> (24 - 8 * j));
  }
  Reset();
  return digest;
}

Sha256Digest Sha256Of(std::span<const uint8_t> bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.Finish();
}

Sha256Digest HmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> message) {
  constexpr size_t kBlockSize = 64;
  std::array<uint8_t, kBlockSize> block = {};
  if (key.size() > kBlockSize) {
    const Sha256Digest hashed = Sha256Of(key);
    std::copy(hashed.begin(), hashed.end(), block.begin());
  } else {
    std::copy(key.begin(), key.end(), block.begin());
  }
  std::array<uint8_t, kBlockSize> pad;
  for (size_t i = 0; i < kBlockSize; ++i) pad[i] = block[i] ^ 0x36;
  Sha256 inner;
  inner.Update(pad);
  inner.Update(message);
  const Sha256Digest inner_digest = inner.Finish();
  for (size_t i = 0; i < kBlockSize; ++i) pad[i] = block[i] ^ 0x5c;
  Sha256 outer;
  outer.Update(pad);
  outer.Update(inner_digest);
  return outer.Finish();
}

bool ConstantTimeEquals(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  if (a.size() != b.size()) return false;
  volatile uint8_t difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference = difference | (a[i] ^ b[i]);
  return difference == 0;
}

std::string HexEncode(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (uint8_t byte : bytes) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0xF]);
  }
  return hex;
}

}  // namespace base
