// Bytes read at any offset, whatever holds them: a file (one implementation
// per platform), memory, or a stamped copy not yet written. Every reader of
// a launcher's bytes reads through one.
//
//   std::unique_ptr<ByteSource> file = OpenFileSource(path, error);
//   if (!file || !file->Size(size, error)) ... error is the system's code
//   if (!file->ReadAt(0, headers, error)) ... the system's code, or kReadPastEnd
#ifndef MIR_INSTALLER_WIN_INSTALLER_BYTE_SOURCE_H_
#define MIR_INSTALLER_WIN_INSTALLER_BYTE_SOURCE_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "mir_installer_win/installer/binary_format.h"

namespace installer {

// The launcher reads no larger file; the stamping tool refuses one.
inline constexpr int64_t kMaxAttributionFileSize = 536870912;  // 512 MiB

// The error of a read that the source's end cuts short, on every platform
// (Windows' ERROR_HANDLE_EOF; pread never fails with ENOSYS, its errno twin).
inline constexpr uint32_t kReadPastEnd = 38;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The number of bytes; false with the system's error code.
  virtual bool Size(uint64_t& size, uint32_t& error) = 0;
  // Fills all of `into` with the bytes from `offset`, however many reads
  // that takes; false with the system's error code, or kReadPastEnd when
  // the source ends first.
  virtual bool ReadAt(uint64_t offset, MutableByteSpan into, uint32_t& error) = 0;
};

// Bytes in memory, which must outlive the source.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(ByteSpan bytes) : bytes_(bytes) {}
  bool Size(uint64_t& size, uint32_t& error) override;
  bool ReadAt(uint64_t offset, MutableByteSpan into, uint32_t& error) override;

 private:
  ByteSpan bytes_;
};

inline constexpr size_t kChunkSize = 1048576;  // 1 MiB
// The `length` bytes from `offset`, given to `use` in order in pieces of at
// most kChunkSize; false at the first read that fails (its error in
// `error`) or the first piece that `use` refuses (error 0).
bool ReadInChunks(ByteSource& source, uint64_t offset, uint64_t length,
                  const std::function<bool(ByteSpan)>& use, uint32_t& error);

// A path as the platform's file functions take it (UTF-16 on Windows).
using NativePathChar = std::filesystem::path::value_type;

// `path` opened for reading, shared for reading only, or nothing with the
// system's error code in `error`. On Windows it must be a disk file (not a
// pipe or another device; ERROR_BAD_FILE_TYPE), and a pipe server reached
// anyway may identify the reader but not impersonate it.
std::unique_ptr<ByteSource> OpenFileSource(const NativePathChar* path, uint32_t& error);

#ifndef _WIN32
// `descriptor`, open for reading, as a source that neither closes it nor
// moves its position, such as the nginx module's open file.
std::unique_ptr<ByteSource> BorrowedDescriptorSource(int descriptor);
#endif

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_BYTE_SOURCE_H_
