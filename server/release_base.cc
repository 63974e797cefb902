#include "server/release_base.h"

namespace server {

bool FindReleaseBase(installer::ByteSource& source, ReleaseBase& release, std::string& error) {
  installer::SignedImage image;
  base::Sha256 digest;
  if (!installer::ReadSignedImage(source, image, error) ||
      !installer::FindAttributionSlot(
          image, release.slot, error,
          [&digest](installer::ByteSpan bytes) { digest.Update(bytes); })) {
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
