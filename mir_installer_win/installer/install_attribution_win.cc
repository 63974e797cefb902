#include "mir_installer_win/installer/install_attribution_win.h"

#include <windows.h>

#include "mir_installer_win/installer/attribution_locator.h"
#include "mir_installer_win/installer/attribution_log.h"
#include "mir_installer_win/installer/byte_source_win.h"
#include "mir_installer_win/installer/channel_info.h"
#include "product/product_details.h"
#include "registry/registry_key_win.h"
#include "strings/utf_string_conversions.h"

namespace installer {
namespace {

std::string FindInOpenedFile(std::unique_ptr<ByteSource> file, uint32_t error) {
  if (!file) {
    LOG_AT(kAttributionLog, 497, ERROR) << "[InstallAttribution] CreateFileW failed: " << error;
    return std::string();
  }
  return FindAttributionInFile(std::move(file));
}

}  // namespace

std::string ReadAttributionFromFile(const wchar_t* path) {
  uint32_t error = 0;
  std::unique_ptr<ByteSource> file = OpenFileSource(path, error);
  return FindInOpenedFile(std::move(file), error);
}

std::string ReadAttributionFromOpenedFile(base::ScopedHandle file, uint32_t open_error) {
  uint32_t error = open_error;
  std::unique_ptr<ByteSource> opened;
  if (file.IsValid()) opened = FileSourceFromHandle(std::move(file), error);
  return FindInOpenedFile(std::move(opened), error);
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
  registry::RegistryKey key;
  if (key.CreateKey(HKEY_CURRENT_USER, key_path.c_str(), KEY_SET_VALUE) != ERROR_SUCCESS) {
    LOG_AT(kAttributionLog, 620, ERROR)
        << "[InstallAttribution] Cannot create registry key: " << key_path;
    return false;
  }
  const std::wstring data = strings::Utf8ToWide(value);
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

}  // namespace installer
