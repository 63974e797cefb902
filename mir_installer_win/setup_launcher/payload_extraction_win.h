// The work directory the payloads are written into, and the extraction of
// one payload resource (type "BINARY") of the launcher's own image to a file.
#ifndef MIR_INSTALLER_WIN_SETUP_LAUNCHER_PAYLOAD_EXTRACTION_WIN_H_
#define MIR_INSTALLER_WIN_SETUP_LAUNCHER_PAYLOAD_EXTRACTION_WIN_H_

#include <cstdint>

#include "base/files/file_path.h"

inline constexpr int32_t kSetupGuideResource = 201;
inline constexpr int32_t kInstallerResource = 202;
inline constexpr wchar_t kSetupGuideFileName[] = L"MIR_SETUP_GUIDE_EXE_NAME";
inline constexpr wchar_t kInstallerFileName[] = L"mir_installer_win_temp.exe";

// "MirSetup_<process id>_<tick count>" in the user's temporary directory,
// created (an existing directory of that name is used). An empty path when
// the temporary directory is unknown or the directory cannot be made.
PathValue CreateWorkDirectory();

// Writes resource `id` whole to `path`, replacing any file there. Logs each
// failure with its Windows error and returns false.
bool ExtractResourceToFile(int32_t id, const PathValue& path);

#endif  // MIR_INSTALLER_WIN_SETUP_LAUNCHER_PAYLOAD_EXTRACTION_WIN_H_
