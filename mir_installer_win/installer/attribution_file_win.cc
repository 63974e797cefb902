#include "mir_installer_win/installer/attribution_file_win.h"

#include <windows.h>

namespace installer {
namespace {

class WindowsAttributionFile : public AttributionFile {
 public:
  explicit WindowsAttributionFile(base::ScopedHandle file) : file_(std::move(file)) {}

  bool Size(int64_t& size, uint32_t& error) override {
    LARGE_INTEGER file_size;
    if (!::GetFileSizeEx(file_.Get(), &file_size)) return Failed(error);
    size = file_size.QuadPart;
    return true;
  }
  bool SeekFromStart(int64_t offset, uint32_t& error) override {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return ::SetFilePointerEx(file_.Get(), distance, nullptr, FILE_BEGIN) || Failed(error);
  }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& read) override {
    DWORD count = 0;
    const BOOL ok = ::ReadFile(file_.Get(), buffer, size, &count, nullptr);
    read = count;
    return ok;
  }
  void Close() override { file_.Close(); }

 private:
  static bool Failed(uint32_t& error) {
    error = ::GetLastError();
    return false;
  }

  base::ScopedHandle file_;
};

}  // namespace

std::unique_ptr<AttributionFile> OpenAttributionFile(const NativePathChar* path, uint32_t& error) {
  // Identification only: should the name lead to a pipe after all, its
  // server learns who is reading but cannot act as the reader.
  base::ScopedHandle file(::CreateFileW(
      path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!file.IsValid()) {
    error = ::GetLastError();
    return nullptr;
  }
  return AttributionFileFromHandle(std::move(file), error);
}

std::unique_ptr<AttributionFile> AttributionFileFromHandle(base::ScopedHandle file,
                                                           uint32_t& error) {
  // A file on a disk, not a pipe, a console or another device.
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    error = ERROR_BAD_FILE_TYPE;
    return nullptr;
  }
  return std::make_unique<WindowsAttributionFile>(std::move(file));
}

}  // namespace installer
