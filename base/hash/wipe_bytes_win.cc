#include <windows.h>

#include "base/hash/secret_bytes.h"

namespace base {

void WipeBytes(std::span<uint8_t> bytes) {
  if (!bytes.empty()) SecureZeroMemory(bytes.data(), bytes.size());
}

}  // namespace base
