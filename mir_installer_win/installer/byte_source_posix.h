// The native build's file source on a descriptor that someone else owns and
// closes, such as the nginx module's open file.
#ifndef MIR_INSTALLER_WIN_INSTALLER_BYTE_SOURCE_POSIX_H_
#define MIR_INSTALLER_WIN_INSTALLER_BYTE_SOURCE_POSIX_H_

#include "mir_installer_win/installer/byte_source.h"

namespace installer {

// `descriptor`, open for reading, as a ByteSource that neither closes it
// nor moves its position.
std::unique_ptr<ByteSource> BorrowedDescriptorSource(int descriptor);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_BYTE_SOURCE_POSIX_H_
