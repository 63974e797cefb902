#include "server/attributed_download.h"

#include "server/download_etag.h"

namespace server {

DownloadPlan PlanDownload(const LinkKeys& keys, std::string_view token, std::string_view file_name,
                          int64_t now, const ReleaseBase& release,
                          installer::MutableByteSpan slot_bytes) {
  DownloadPlan plan;
  std::string value, error;
  if (token.empty()) {
    plan.reason = "the link has no token";
  } else if (!VerifyLinkToken(keys, token, file_name, now, value, error)) {
    plan.reason = error;
  } else if (slot_bytes.size() != release.slot.size) {
    plan.reason = "the slot buffer does not match the slot";
  } else if (!installer::FillAttributionSlot(value, installer::RecordForm::kTrailer, slot_bytes,
                                             error)) {
    plan.reason = "the launcher would refuse the link's value: " + error;
  } else {
    plan.stamped = true;
  }
  plan.etag = DownloadEtag(release.digest,
                           plan.stamped ? std::optional<std::string_view>(value) : std::nullopt);
  return plan;
}

}  // namespace server
