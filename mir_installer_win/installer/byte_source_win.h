// The Windows file source on a file its caller opened and judged itself.
#ifndef MIR_INSTALLER_WIN_INSTALLER_BYTE_SOURCE_WIN_H_
#define MIR_INSTALLER_WIN_INSTALLER_BYTE_SOURCE_WIN_H_

#include <cstdint>
#include <memory>

#include "base/win/scoped_handle.h"
#include "mir_installer_win/installer/byte_source.h"

namespace installer {

// `file`, opened for reading, as a ByteSource; nothing, with
// ERROR_BAD_FILE_TYPE in `error`, when it is not a disk file.
std::unique_ptr<ByteSource> FileSourceFromHandle(base::ScopedHandle file, uint32_t& error);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_BYTE_SOURCE_WIN_H_
