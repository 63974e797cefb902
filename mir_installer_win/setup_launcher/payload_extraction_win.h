// The work directory the payloads are written into, and the extraction of
// one payload resource (type "BINARY") of the launcher's own image to a file.
//
// From being written until the child has ended, the work directory and both
// payload files are held open without write or delete sharing: a process
// that tried to swap the installer the launcher or the guide is about to
// start (perhaps elevated) for its own program is refused.
#ifndef MIR_INSTALLER_WIN_SETUP_LAUNCHER_PAYLOAD_EXTRACTION_WIN_H_
#define MIR_INSTALLER_WIN_SETUP_LAUNCHER_PAYLOAD_EXTRACTION_WIN_H_

#include <cstdint>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace setup_launcher {

inline constexpr int32_t kSetupGuideResource = 201;
inline constexpr int32_t kInstallerResource = 202;
inline constexpr wchar_t kSetupGuideFileName[] = L"MIR_SETUP_GUIDE_EXE_NAME";
inline constexpr wchar_t kInstallerFileName[] = L"mir_installer_win_temp.exe";

// "MirSetup_<process id>_<tick count>" in the user's temporary directory,
// made by this call with an access list of its own (the user, SYSTEM and the
// Administrators only) and held in `hold` from the same call, so that nobody
// can rename or replace it (files can still be created in it and started
// from it). A name that
// exists already, as a directory, a file or a link, is failure: such a
// directory could hold DLLs that a payload would load from its own folder.
// An empty path when the temporary directory is unknown or the directory
// cannot be made.
base::PathValue CreateWorkDirectory(base::ScopedHandle& hold);

// Writes resource `id` whole to `path`, replacing any file there, then keeps
// the file open in `hold`, shared for reading only, once it has been read
// back and found to hold exactly the resource's bytes. Logs each failure
// with its Windows error and returns false.
bool ExtractResourceToFile(int32_t id, const base::PathValue& path, base::ScopedHandle& hold);

}  // namespace setup_launcher

#endif  // MIR_INSTALLER_WIN_SETUP_LAUNCHER_PAYLOAD_EXTRACTION_WIN_H_
