// Bytes of a secret (a link key), wiped wherever they end: when the holder is
// destroyed or assigned to, and in the part that Shrink drops. The bytes are
// never copied by the holder itself (it is move-only and never reallocates),
// so no unwiped copy is left behind in freed memory.
//
//   base::SecretBytes key(size);
//   if (!ReadAll(fd, key.span())) return false;  // wiped on this path too
#ifndef BASE_HASH_SECRET_BYTES_H_
#define BASE_HASH_SECRET_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace base {

// Overwrites `bytes` with zeros in a way the compiler cannot drop.
void WipeBytes(std::span<uint8_t> bytes);

class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(size_t size) : bytes_(new uint8_t[size]()), size_(size) {}
  SecretBytes(SecretBytes&& other) noexcept { *this = std::move(other); }
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  ~SecretBytes() { WipeBytes(span()); }

  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }
  std::span<uint8_t> span() { return {bytes_.get(), size_}; }
  std::span<const uint8_t> span() const { return {bytes_.get(), size_}; }

  // Keeps the first `size` bytes (at most size()) and wipes the rest.
  void Shrink(size_t size);

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t size_ = 0;
};

}  // namespace base

#endif  // BASE_HASH_SECRET_BYTES_H_
