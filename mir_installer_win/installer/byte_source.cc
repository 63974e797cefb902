#include "mir_installer_win/installer/byte_source.h"

#include <algorithm>
#include <vector>

namespace installer {

bool MemorySource::Size(uint64_t& size, uint32_t&) {
  size = bytes_.size();
  return true;
}

bool MemorySource::ReadAt(uint64_t offset, MutableByteSpan into, uint32_t& error) {
  if (!Contains(bytes_, offset, into.size())) {
    error = kReadPastEnd;
    return false;
  }
  std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(offset), into.size(), into.begin());
  return true;
}

bool ReadInChunks(ByteSource& source, uint64_t offset, uint64_t length,
                  const std::function<bool(ByteSpan)>& use, uint32_t& error) {
  std::vector<uint8_t> chunk(std::min<uint64_t>(length, kChunkSize));
  for (uint64_t done = 0; done < length;) {
    const MutableByteSpan part(chunk.data(), std::min<uint64_t>(chunk.size(), length - done));
    if (!source.ReadAt(offset + done, part, error)) return false;
    if (!use(part)) {
      error = 0;
      return false;
    }
    done += part.size();
  }
  return true;
}

}  // namespace installer
