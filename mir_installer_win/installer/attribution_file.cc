#include "mir_installer_win/installer/attribution_file.h"

#include <algorithm>
#include <cerrno>

namespace installer {

bool ReadAtAttributionFile::Size(int64_t& size, uint32_t&) {
  size = static_cast<int64_t>(size_);
  return true;
}

bool ReadAtAttributionFile::SeekFromStart(int64_t offset, uint32_t& error) {
  if (offset < 0) {
    error = EINVAL;
    return false;
  }
  position_ = static_cast<uint64_t>(offset);
  return true;
}

bool ReadAtAttributionFile::Read(uint8_t* buffer, uint32_t size, uint32_t& read) {
  const uint64_t count = position_ < size_ ? std::min<uint64_t>(size, size_ - position_) : 0;
  if (count > 0 && !read_at_(position_, MutableByteSpan(buffer, count))) return false;
  position_ += count;
  read = static_cast<uint32_t>(count);
  return true;
}

}  // namespace installer
