// The file stage of the attribution search, apart from how the file is
// opened: the tail window first, then the whole image of a file of at most
// 64 MiB for the PE search. The launcher and the stamping tool run the same
// search, on any ByteSource.
#ifndef MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_LOCATOR_H_
#define MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_LOCATOR_H_

#include <cstdint>
#include <memory>
#include <string>

#include "mir_installer_win/installer/byte_source.h"
#include "mir_installer_win/installer/channel_info_search.h"

namespace installer {

inline constexpr uint64_t kTailWindowSize = 1048576;        // 1 MiB
inline constexpr uint64_t kWholeImageScanLimit = 67108864;  // 64 MiB

// The CHANNEL_INFO value in `file`, or empty; `place` (if any) is given
// where, from the file's start. The file is let go of (closed) before the
// PE search starts; every outcome is logged, and the malformed records of
// all its searches together at most kMaxMalformedWarnings times one by one.
std::string FindAttributionInFile(std::unique_ptr<ByteSource> file, RecordPlace* place = nullptr);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_LOCATOR_H_
