#include "server/attributed_download.h"

#include "server/download_etag.h"

namespace server {
namespace {

// Whether an authentic `token` may still be stamped at `now`: live, or a
// resume of its own stamped copy within the grace.
bool StillServed(const LinkToken& token, int64_t now, const ResumeRequest& resume,
                 const ReleaseBase& release) {
  if (now < 0) return false;
  const uint64_t at = static_cast<uint64_t>(now);
  if (at < token.expires) return true;
  // The grace is the `grace_seconds` seconds from the expiry on: a download
  // paused in the link's last second resumes like one paused earlier.
  return at - token.expires < resume.grace_seconds && resume.has_range &&
         !resume.if_range.empty() && resume.if_range == DownloadEtag(release.digest, token.value);
}

}  // namespace

DownloadDecision DecideDownload(const LinkKeys& keys, std::string_view token,
                                std::string_view file_name, int64_t now,
                                const ResumeRequest& resume, const ReleaseBase& release,
                                installer::MutableByteSpan slot_bytes) {
  DownloadDecision decision;
  std::string error;
  LinkToken link;
  LinkRefusal refusal;
  const std::string& value = link.value;
  if (token.empty()) {
    decision.code = kNoToken;
    decision.reason = "the link has no token";
  } else if (!AuthenticateLinkToken(keys, token, file_name, link, refusal)) {
    decision.code = refusal.code;
    decision.reason = std::move(refusal.reason);
  } else if (!StillServed(link, now, resume, release)) {
    refusal = ExpiredLinkRefusal(link);
    decision.code = refusal.code;
    decision.reason = std::move(refusal.reason);
  } else if (slot_bytes.size() != release.slot.size) {
    decision.code = kServerFault;
    decision.reason = "the slot buffer does not match the slot";
  } else if (!installer::FillAttributionSlot(value, installer::RecordForm::kTrailer, slot_bytes,
                                             error)) {
    decision.code = kRefusedValue;
    decision.reason = "the launcher would refuse the link's value: " + error;
  } else {
    decision.stamped = true;
    decision.code = kStamped;
    decision.value = value;
  }
  decision.etag = DownloadEtag(
      release.digest, decision.stamped ? std::optional<std::string_view>(value) : std::nullopt);
  return decision;
}

}  // namespace server
