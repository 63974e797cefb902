// The Windows side of AttributionFile: a file its caller has opened and
// judged itself, such as the launcher's named attribution source.
#ifndef MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_FILE_WIN_H_
#define MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_FILE_WIN_H_

#include <cstdint>
#include <memory>

#include "base/win/scoped_handle.h"
#include "mir_installer_win/installer/attribution_file.h"

namespace installer {

// `file`, opened for reading, as an AttributionFile; nothing, with
// ERROR_BAD_FILE_TYPE in `error`, when it is not a disk file.
std::unique_ptr<AttributionFile> AttributionFileFromHandle(base::ScopedHandle file,
                                                           uint32_t& error);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_FILE_WIN_H_
