// Reading and writing the binary layouts the attribution code meets in
// untrusted bytes: little-endian numbers at an offset and the length of a DER
// element. Every access first tests `offset + size <= length` in 64 bits, so
// no offset or length taken from the data can reach outside the buffer or
// wrap around.
//
//   std::optional<uint32_t> length = ReadLe32(entry, 0);  // nothing past the end
//   if (!length || *length < 8) return std::string();
#ifndef MIR_INSTALLER_WIN_INSTALLER_BINARY_FORMAT_H_
#define MIR_INSTALLER_WIN_INSTALLER_BINARY_FORMAT_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace installer {

using ByteSpan = std::span<const uint8_t>;
using MutableByteSpan = std::span<uint8_t>;

inline ByteSpan AsBytes(std::string_view text) {
  return ByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Whether `length` bytes from `offset` lie inside `bytes`.
inline bool Contains(ByteSpan bytes, uint64_t offset, uint64_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

inline std::optional<uint16_t> ReadLe16(ByteSpan bytes, uint64_t offset) {
  if (!Contains(bytes, offset, 2)) return std::nullopt;
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

inline std::optional<uint32_t> ReadLe32(ByteSpan bytes, uint64_t offset) {
  if (!Contains(bytes, offset, 4)) return std::nullopt;
  return uint32_t{bytes[offset]} | uint32_t{bytes[offset + 1]} << 8 |
         uint32_t{bytes[offset + 2]} << 16 | uint32_t{bytes[offset + 3]} << 24;
}

// False, writing nothing, when the four bytes do not fit.
inline bool WriteLe32(MutableByteSpan bytes, uint64_t offset, uint32_t value) {
  if (!Contains(bytes, offset, 4)) return false;
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  return true;
}

inline void AppendLe32(std::string& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
}

// `value` rounded up to a multiple of 8, in 64 bits so that it cannot wrap.
inline uint64_t AlignTo8(uint64_t value) { return (value + 7) & ~uint64_t{7}; }

// The DER element that starts `bytes`: its tag, and its whole length (header
// and content). Nothing when the length is not a definite one, in the short
// form or in 1 to 4 length bytes, or when the element runs past the end.
struct DerElement {
  uint8_t tag = 0;
  uint64_t length = 0;
};
std::optional<DerElement> ReadDerElement(ByteSpan bytes);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_BINARY_FORMAT_H_
