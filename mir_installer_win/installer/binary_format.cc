#include "mir_installer_win/installer/binary_format.h"

namespace installer {

std::optional<DerElement> ReadDerElement(ByteSpan bytes) {
  if (bytes.size() < 2) return std::nullopt;
  uint64_t header = 2;
  uint64_t content = bytes[1];
  if (bytes[1] >= 0x80) {
    // Long form: the low bits count the length bytes; 0 (indefinite) is refused.
    const uint64_t count = bytes[1] & 0x7F;
    if (count < 1 || count > 4 || !Contains(bytes, 2, count)) return std::nullopt;
    content = 0;
    for (uint64_t i = 0; i < count; ++i) content = content << 8 | bytes[2 + i];
    header += count;
  }
  if (!Contains(bytes, 0, header + content)) return std::nullopt;
  return DerElement{bytes[0], header + content};
}

}  // namespace installer
