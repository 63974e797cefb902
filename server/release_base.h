// What a server may serve as a release's base: a reserved base whose slot is
// empty. A stamped copy has the same layout, but serving it as the base
// would give every unattributed download someone else's value.
//
// The release digest identifies the base by its content: the SHA-256 of the
// bytes its Authenticode signature does not cover (see
// installer::UncoveredBytesSink). Two copies of one release have the same
// digest whatever their file times, so every server gives them the same ETag.
#ifndef SERVER_RELEASE_BASE_H_
#define SERVER_RELEASE_BASE_H_

#include <array>
#include <cstdint>
#include <string>

#include "base/hash/sha256.h"
#include "mir_installer_win/installer/attribution_slot.h"

namespace server {

inline constexpr char kStampedCopyReason[] = "its slot holds a record: a stamped copy, not a base";

// Where the bytes of the release digest lie in the file: a server that reads
// the base from elsewhere (the edge, from its origin) can check that an
// object is this release by hashing these few ranges alone.
struct FileRange {
  uint64_t offset = 0;
  uint64_t size = 0;
};
inline constexpr size_t kUncoveredRangeCount = 3;

struct ReleaseBase {
  installer::AttributionSlot slot;
  base::Sha256Digest digest{};
  std::array<FileRange, kUncoveredRangeCount> uncovered{};  // in file order
};

// Reads the base's headers and certificate table once from `source`; false
// with the reason when it is not a reserved base or its slot is filled.
bool FindReleaseBase(installer::ByteSource& source, ReleaseBase& release, std::string& error);

}  // namespace server

#endif  // SERVER_RELEASE_BASE_H_
