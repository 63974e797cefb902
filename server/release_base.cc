#include "server/release_base.h"

namespace server {

bool FindReleaseBase(installer::ByteSource& source, ReleaseBase& release, std::string& error) {
  installer::SignedImage image;
  base::Sha256 digest;
  size_t ranges = 0;
  const auto uncovered = [&](uint64_t offset, installer::ByteSpan bytes) {
    digest.Update(bytes);
    if (ranges < release.uncovered.size()) release.uncovered[ranges++] = {offset, bytes.size()};
  };
  if (!installer::ReadSignedImage(source, image, error) ||
      !installer::FindAttributionSlot(image, release.slot, error, uncovered)) {
    return false;
  }
  if (!release.slot.empty) {
    error = kStampedCopyReason;
    return false;
  }
  release.digest = digest.Finish();
  return true;
}

}  // namespace server
