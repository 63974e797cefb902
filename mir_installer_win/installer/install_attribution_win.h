// Finding the CHANNEL_INFO attribution value in an executable file and
// storing it for the browser in HKCU\Software\Mirelo Browser\InstallAttribution.
//
// The locator reads the last mebibyte first and searches it for either form
// of the record; only after a miss does it read a file of at most 64 MiB
// whole and search it as a PE image. The launcher's own file is far larger,
// so for it only the tail is ever read.
#ifndef MIR_INSTALLER_WIN_INSTALLER_INSTALL_ATTRIBUTION_WIN_H_
#define MIR_INSTALLER_WIN_INSTALLER_INSTALL_ATTRIBUTION_WIN_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/win/scoped_handle.h"

namespace installer {

// The value, or empty when there is none or the file cannot be read. The
// path is given to the system unchanged.
std::string ReadAttributionFromFile(const wchar_t* path);
// The same for a file the caller has opened for reading (and judged); an
// empty `file` is logged as a failed open with the system's `open_error`.
std::string ReadAttributionFromOpenedFile(base::ScopedHandle file, uint32_t open_error);
// The same for the running executable's own file.
std::string ReadAttributionFromSelf();

// Validates `value` and writes it as REG_SZ "CHANNEL_INFO" (up to its first
// NUL) under the product's attribution key, creating the key if needed.
bool WriteAttributionToRegistry(std::string_view value);

// The key the value is written under, below HKEY_CURRENT_USER.
std::wstring AttributionKeyPath();

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_INSTALL_ATTRIBUTION_WIN_H_
