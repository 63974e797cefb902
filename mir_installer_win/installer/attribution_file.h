// The file the attribution locator reads, behind one interface: a file on
// disk (through CreateFileW on Windows, a descriptor in the native build), or
// bytes that something else supplies, such as a stamped file not yet written.
//
//   uint32_t error = 0;
//   std::unique_ptr<AttributionFile> file = OpenAttributionFile(path, error);
//   if (!file) ... error is the system's code
//   std::string value = FindAttributionInFile(*file);
#ifndef MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_FILE_H_
#define MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_FILE_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "mir_installer_win/installer/binary_format.h"

namespace installer {

// The launcher reads no larger file; the stamping tool refuses one.
inline constexpr int64_t kMaxAttributionFileSize = 536870912;  // 512 MiB

// A file read synchronously from a position. Failing calls set `error` to
// the platform's error code.
class AttributionFile {
 public:
  virtual ~AttributionFile() = default;
  virtual bool Size(int64_t& size, uint32_t& error) = 0;
  virtual bool SeekFromStart(int64_t offset, uint32_t& error) = 0;
  // One read of up to `size` bytes; `read` may be less.
  virtual bool Read(uint8_t* buffer, uint32_t size, uint32_t& read) = 0;
  virtual void Close() = 0;
};

// A path as the platform's file functions take it (UTF-16 on Windows).
using NativePathChar = std::filesystem::path::value_type;

// `path` opened for reading, shared for reading only, or nothing with the
// system's error code in `error`. On Windows it must be a disk file (not a
// pipe or another device; ERROR_BAD_FILE_TYPE), and a pipe server reached
// anyway may identify the reader but not impersonate it.
std::unique_ptr<AttributionFile> OpenAttributionFile(const NativePathChar* path, uint32_t& error);

// An AttributionFile of `size` bytes that `read_at` supplies: it fills the
// span with the bytes from the offset, or returns false.
class ReadAtAttributionFile : public AttributionFile {
 public:
  using ReadAt = std::function<bool(uint64_t offset, MutableByteSpan into)>;
  ReadAtAttributionFile(uint64_t size, ReadAt read_at)
      : size_(size), read_at_(std::move(read_at)) {}

  bool Size(int64_t& size, uint32_t& error) override;
  bool SeekFromStart(int64_t offset, uint32_t& error) override;
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& read) override;
  void Close() override {}

 private:
  uint64_t size_;
  ReadAt read_at_;
  uint64_t position_ = 0;
};

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_FILE_H_
