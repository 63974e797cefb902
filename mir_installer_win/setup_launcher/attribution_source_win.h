// Which files the switch "mir-attribution-source" may name: files on a local
// drive only, reached without a link. A UNC path would make the launcher sign
// in to another machine with the user's credentials, and a pipe's server
// could act as the launcher (perhaps elevated); device paths name no file at
// all. A symbolic link, junction or mount point on a local drive can lead to
// any of them, so what is opened is judged, not only the name.
#ifndef MIR_INSTALLER_WIN_SETUP_LAUNCHER_ATTRIBUTION_SOURCE_WIN_H_
#define MIR_INSTALLER_WIN_SETUP_LAUNCHER_ATTRIBUTION_SOURCE_WIN_H_

#include <cstdint>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace setup_launcher {

// The full path of `source` when it lies on a local drive ("X:\..." on a
// drive that is not a network drive), else an empty path. UNC, device
// ("\\.\", "\\?\") and pipe paths, and relative paths that resolve to any of
// them, are refused.
base::PathValue LocalAttributionSource(const base::PathValue& source);

struct AttributionSource {
  enum class Verdict {
    kOpened,       // `file` is the source, held for reading, shared for reading only
    kOpenFailed,   // `error` is the system's
    kNotLocal,     // the name, or the file opened, is not on a local drive
    kThroughLink,  // a link on the way, or the file opened is not the one named
  };
  Verdict verdict = Verdict::kOpenFailed;
  base::ScopedHandle file;
  uint32_t error = 0;
};

// Opens the local source named by `source` without following a link: each
// folder on the way is opened as itself, refused if it is a link, and held
// without delete sharing until the file is open, so that none can become a
// link meanwhile; the file is opened as itself too, and the path the system
// gives for it must be the full path named, on a local drive.
AttributionSource OpenAttributionSource(const base::PathValue& source);

}  // namespace setup_launcher

#endif  // MIR_INSTALLER_WIN_SETUP_LAUNCHER_ATTRIBUTION_SOURCE_WIN_H_
