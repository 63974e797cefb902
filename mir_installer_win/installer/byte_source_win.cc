#include "mir_installer_win/installer/byte_source_win.h"

#include <windows.h>

#include <algorithm>

namespace installer {
namespace {

static_assert(kReadPastEnd == ERROR_HANDLE_EOF);

// Reads at an offset (ReadFile with the offset in an OVERLAPPED, on a
// synchronous handle), so no file position is kept between reads.
class HandleSource final : public ByteSource {
 public:
  explicit HandleSource(base::ScopedHandle file) : file_(std::move(file)) {}

  bool Size(uint64_t& size, uint32_t& error) override {
    LARGE_INTEGER file_size;
    if (!::GetFileSizeEx(file_.Get(), &file_size)) return Failed(error);
    size = static_cast<uint64_t>(file_size.QuadPart);
    return true;
  }
  bool ReadAt(uint64_t offset, MutableByteSpan into, uint32_t& error) override {
    for (size_t done = 0; done < into.size();) {
      const uint64_t at = offset + done;
      OVERLAPPED position = {};
      position.Offset = static_cast<DWORD>(at);
      position.OffsetHigh = static_cast<DWORD>(at >> 32);
      const auto ask = static_cast<DWORD>(std::min<size_t>(into.size() - done, 1u << 30));
      DWORD got = 0;
      if (!::ReadFile(file_.Get(), into.data() + done, ask, &got, &position)) return Failed(error);
      if (got == 0) {
        error = kReadPastEnd;
        return false;
      }
      done += got;
    }
    return true;
  }

 private:
  static bool Failed(uint32_t& error) {
    error = ::GetLastError();
    return false;
  }

  base::ScopedHandle file_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileSource(const NativePathChar* path, uint32_t& error) {
  // Identification only: should the name lead to a pipe after all, its
  // server learns who is reading but cannot act as the reader.
  base::ScopedHandle file(::CreateFileW(
      path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!file.IsValid()) {
    error = ::GetLastError();
    return nullptr;
  }
  return FileSourceFromHandle(std::move(file), error);
}

std::unique_ptr<ByteSource> FileSourceFromHandle(base::ScopedHandle file, uint32_t& error) {
  // A file on a disk, not a pipe, a console or another device.
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    error = ERROR_BAD_FILE_TYPE;
    return nullptr;
  }
  return std::make_unique<HandleSource>(std::move(file));
}

}  // namespace installer
