#include "mir_installer_win/installer/install_attribution_win.h"

#include <windows.h>

#include <vector>

#include "base/win/scoped_handle.h"
#include "mir_installer_win/installer/attribution_log.h"
#include "mir_installer_win/installer/channel_info.h"
#include "mir_installer_win/installer/pe_image.h"
#include "product/product_details.h"
#include "registry/registry_key_win.h"
#include "strings/utf_string_conversions.h"

namespace {

bool Seek(HANDLE file, int64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return ::SetFilePointerEx(file, distance, nullptr, FILE_BEGIN);
}

// One synchronous read of up to `buffer.size()` bytes; false on failure.
bool ReadOnce(HANDLE file, std::vector<uint8_t>& buffer, DWORD& read) {
  read = 0;
  return ::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr);
}

}  // namespace

std::string ReadAttributionFromFile(const wchar_t* path) {
  ScopedHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    LOG_AT(kAttributionLog, 497, ERROR)
        << "[InstallAttribution] CreateFileW failed: " << ::GetLastError();
    return std::string();
  }
  LARGE_INTEGER file_size;
  if (!::GetFileSizeEx(file.Get(), &file_size)) {
    LOG_AT(kAttributionLog, 504, ERROR)
        << "[InstallAttribution] GetFileSizeEx failed: " << ::GetLastError();
    return std::string();
  }
  const int64_t size = file_size.QuadPart;
  if (size <= 0 || size > kMaxAttributionFileSize) {
    LOG_AT(kAttributionLog, 511, ERROR) << "[InstallAttribution] File size out of range: " << size
                                        << " (max " << kMaxAttributionFileSize << ")";
    return std::string();
  }

  const uint64_t window = std::min<uint64_t>(static_cast<uint64_t>(size), kTailWindowSize);
  if (!Seek(file.Get(), size - static_cast<int64_t>(window))) {
    LOG_AT(kAttributionLog, 525, ERROR)
        << "[InstallAttribution] SetFilePointerEx (tail) failed: " << ::GetLastError();
    return std::string();
  }
  std::vector<uint8_t> tail(window);
  DWORD read = 0;
  if (!ReadOnce(file.Get(), tail, read) || read == 0) {
    LOG_AT(kAttributionLog, 536, ERROR) << "[InstallAttribution] ReadFile (tail window) failed";
    return std::string();
  }
  tail.resize(read);  // a short read is accepted

  std::string value = FindChannelInfoTrailer(tail);
  if (value.empty()) value = FindChannelInfoDelimited(tail);
  if (!value.empty()) {
    file.Close();
    LOG_AT(kAttributionLog, 545, INFO)
        << "[InstallAttribution] CHANNEL_INFO from file tail window (" << read
        << " bytes, same idea as 4f51b96/8656c3c2)";
    return value;
  }

  if (static_cast<uint64_t>(size) <= kTailWindowSize) {
    file.Close();  // the tail holds the whole file already
    return FindChannelInfoInPeImage(tail);
  }
  if (static_cast<uint64_t>(size) > kWholeImageScanLimit) {
    file.Close();
    LOG_AT(kAttributionLog, 558, INFO)
        << "[InstallAttribution] Tail window miss; file_size=" << size
        << " exceeds whole-file PE scan limit " << kWholeImageScanLimit
        << " \xE2\x80\x94 skip loading entire image.";
    return std::string();
  }
  if (!Seek(file.Get(), 0)) {
    LOG_AT(kAttributionLog, 566, ERROR)
        << "[InstallAttribution] SetFilePointerEx (BOF) failed: " << ::GetLastError();
    return std::string();
  }
  tail = std::vector<uint8_t>();  // release the window before the image is allocated
  std::vector<uint8_t> image(static_cast<size_t>(size));
  if (!ReadOnce(file.Get(), image, read) || read < image.size()) {
    LOG_AT(kAttributionLog, 577, ERROR) << "[InstallAttribution] ReadFile (full image) failed";
    return std::string();
  }
  file.Close();
  return FindChannelInfoInPeImage(image);
}

std::string ReadAttributionFromSelf() {
  wchar_t path[MAX_PATH] = {};
  if (::GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) {
    LOG_AT(kAttributionLog, 595, ERROR)
        << "[InstallAttribution] GetModuleFileNameW failed: " << ::GetLastError();
    return std::string();
  }
  return ReadAttributionFromFile(path);
}

std::wstring AttributionKeyPath() {
  return L"Software\\" + product::ProductRegistryName() + L"\\InstallAttribution";
}

bool WriteAttributionToRegistry(std::string_view value) {
  if (value.empty()) return false;
  if (!IsValidChannelInfo(value)) {
    LOG_AT(kAttributionLog, 607, ERROR) << "[InstallAttribution] Refusing to write malformed "
                                        << "CHANNEL_INFO";
    return false;
  }
  const std::wstring key_path = AttributionKeyPath();
  RegistryKey key;
  if (key.CreateKey(HKEY_CURRENT_USER, key_path.c_str(), KEY_SET_VALUE) != ERROR_SUCCESS) {
    LOG_AT(kAttributionLog, 620, ERROR)
        << "[InstallAttribution] Cannot create registry key: " << key_path;
    return false;
  }
  const std::wstring data = Utf8ToWide(value);
  const LONG result = key.WriteString(L"CHANNEL_INFO", data.c_str());
  if (result != ERROR_SUCCESS) {
    LOG_AT(kAttributionLog, 628, ERROR) << "[InstallAttribution] Failed to write CHANNEL_INFO"
                                        << ": " << result;  // no tag in the binary
    return false;
  }
  LOG_AT(kAttributionLog, 633, INFO) << "[InstallAttribution] Wrote CHANNEL_INFO to registry; "
                                        "key=HKCU\\"
                                     << key_path << " value_len=" << value.size();
  return true;
}
