// Little-endian reads from untrusted bytes. Every read tests
// `offset + size <= length` in 64 bits first, so no offset taken from the
// data can reach outside the buffer or wrap.
#ifndef MIR_INSTALLER_WIN_INSTALLER_BYTE_READER_H_
#define MIR_INSTALLER_WIN_INSTALLER_BYTE_READER_H_

#include <cstdint>
#include <optional>

#include "mir_installer_win/installer/channel_info.h"

class ByteReader {
 public:
  explicit ByteReader(ByteSpan bytes) : bytes_(bytes) {}

  uint64_t size() const { return bytes_.size(); }
  bool Contains(uint64_t offset, uint64_t length) const {
    return offset <= size() && length <= size() - offset;
  }

  std::optional<uint16_t> U16(uint64_t offset) const {
    if (!Contains(offset, 2)) return std::nullopt;
    return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
  }
  std::optional<uint32_t> U32(uint64_t offset) const {
    if (!Contains(offset, 4)) return std::nullopt;
    return uint32_t{bytes_[offset]} | uint32_t{bytes_[offset + 1]} << 8 |
           uint32_t{bytes_[offset + 2]} << 16 | uint32_t{bytes_[offset + 3]} << 24;
  }
  // The bytes from `offset` to the end, or from `offset` for `length` bytes.
  std::optional<ByteSpan> Slice(uint64_t offset, uint64_t length) const {
    if (!Contains(offset, length)) return std::nullopt;
    return bytes_.subspan(offset, length);
  }

 private:
  ByteSpan bytes_;
};

#endif  // MIR_INSTALLER_WIN_INSTALLER_BYTE_READER_H_
