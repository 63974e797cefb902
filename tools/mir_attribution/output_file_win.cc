#include <windows.h>

#include <random>

#include "base/win/scoped_handle.h"
#include "mir_installer_win/installer/byte_source.h"
#include "tools/mir_attribution/output_file.h"

namespace mir_attribution {
namespace {

namespace fs = std::filesystem;

bool Failed(const char* what, std::string& error) {
  error = std::string(what) + " (" + std::to_string(::GetLastError()) + ")";
  return false;
}

bool WriteAt(HANDLE file, uint64_t offset, const uint8_t* bytes, uint64_t count) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  while (count > 0) {
    DWORD written = 0;
    const auto ask = static_cast<DWORD>(std::min<uint64_t>(count, 1 << 20));
    if (!::WriteFile(file, bytes, ask, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

bool CopyPrefix(installer::ByteSource& source, HANDLE file, uint64_t count) {
  uint64_t offset = 0;
  uint32_t ignored = 0;
  return installer::ReadInChunks(
      source, 0, count,
      [&](installer::ByteSpan part) {
        offset += part.size();
        return WriteAt(file, offset - part.size(), part.data(), part.size());
      },
      ignored);
}

// `writes` in order, then `size` bytes, on disk.
bool WriteAndSync(HANDLE file, const std::vector<StampEdit::Write>& writes, uint64_t size) {
  for (const StampEdit::Write& write : writes) {
    if (!WriteAt(file, write.offset, write.bytes.data(), write.bytes.size())) return false;
  }
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file) &&
         ::FlushFileBuffers(file);
}

}  // namespace

bool WriteFileCopy(const fs::path& in, const fs::path& out, uint64_t copied,
                   const std::vector<StampEdit::Write>& writes, uint64_t size, std::string& error) {
  uint32_t code = 0;
  const std::unique_ptr<installer::ByteSource> source = installer::OpenFileSource(in.c_str(), code);
  if (!source) {
    ::SetLastError(code);
    return Failed("cannot read", error);
  }
  // A temporary name beside OUT, created only if nothing has it.
  std::random_device random;
  fs::path temporary;
  base::ScopedHandle file;
  for (int attempt = 0; attempt < 100 && !file.IsValid(); ++attempt) {
    temporary = out;
    temporary += L".stamping-" + std::to_wstring(random());
    file.Reset(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid() && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (!file.IsValid()) return Failed("cannot be created", error);
  const bool written = CopyPrefix(*source, file.Get(), copied) &&
                       WriteAndSync(file.Get(), writes, size) && ::CloseHandle(file.Release());
  if (!written || !::MoveFileExW(temporary.c_str(), out.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Failed(written ? "cannot be renamed into place" : "cannot be written", error);
    file.Close();
    ::DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

InPlaceWrite ApplyInPlace(const fs::path& path, const std::vector<StampEdit::Write>& writes,
                          uint64_t size) {
  base::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return InPlaceWrite::kNotOpened;
  return WriteAndSync(file.Get(), writes, size) && ::CloseHandle(file.Release())
             ? InPlaceWrite::kWritten
             : InPlaceWrite::kNotWritten;
}

}  // namespace mir_attribution
