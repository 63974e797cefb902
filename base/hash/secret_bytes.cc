#include "base/hash/secret_bytes.h"

#include <utility>

namespace base {

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    WipeBytes(span());
    bytes_ = std::move(other.bytes_);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void SecretBytes::Shrink(size_t size) {
  if (size >= size_) return;
  WipeBytes(span().subspan(size));
  size_ = size;
}

}  // namespace base
