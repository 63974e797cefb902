#include "server/attributed_download.h"

#include "server/download_etag.h"

namespace server {

DownloadPlan PlanDownload(const LinkKeys& keys, std::string_view token, std::string_view file_name,
                          int64_t now, const ReleaseBase& release,
                          installer::MutableByteSpan slot_bytes) {
  DownloadPlan plan;
  std::string value, error;
  LinkRefusal refusal;
  if (token.empty()) {
    plan.code = kNoToken;
    plan.reason = "the link has no token";
  } else if (!VerifyLinkToken(keys, token, file_name, now, value, refusal)) {
    plan.code = refusal.code;
    plan.reason = std::move(refusal.reason);
  } else if (slot_bytes.size() != release.slot.size) {
    plan.code = kServerFault;
    plan.reason = "the slot buffer does not match the slot";
  } else if (!installer::FillAttributionSlot(value, installer::RecordForm::kTrailer, slot_bytes,
                                             error)) {
    plan.code = kRefusedValue;
    plan.reason = "the launcher would refuse the link's value: " + error;
  } else {
    plan.stamped = true;
    plan.code = kStamped;
    plan.value = value;
  }
  plan.etag = DownloadEtag(release.digest,
                           plan.stamped ? std::optional<std::string_view>(value) : std::nullopt);
  return plan;
}

}  // namespace server
