// Which files the switch "mir-attribution-source" may name: files on a local
// drive only. A UNC path would make the launcher sign in to another machine
// with the user's credentials, and a pipe's server could act as the launcher
// (perhaps elevated); device paths name no file at all.
#ifndef MIR_INSTALLER_WIN_SETUP_LAUNCHER_ATTRIBUTION_SOURCE_WIN_H_
#define MIR_INSTALLER_WIN_SETUP_LAUNCHER_ATTRIBUTION_SOURCE_WIN_H_

#include "base/files/file_path.h"

namespace setup_launcher {

// The full path of `source` when it lies on a local drive ("X:\..." on a
// drive that is not a network drive), else an empty path. UNC, device
// ("\\.\", "\\?\") and pipe paths, and relative paths that resolve to any of
// them, are refused.
base::PathValue LocalAttributionSource(const base::PathValue& source);

}  // namespace setup_launcher

#endif  // MIR_INSTALLER_WIN_SETUP_LAUNCHER_ATTRIBUTION_SOURCE_WIN_H_
