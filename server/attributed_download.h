// What a server sends for one request of a reserved base: the stamped copy
// when the link's token is good and its value one the launcher stores, and
// otherwise the base unchanged (an unattributed download, never a failed
// one) with the reason. The stamped copy is the base's bytes up to the
// attribution slot followed by the filled slot, so only the slot's bytes are
// made here; the rest is sent straight from the file.
#ifndef SERVER_ATTRIBUTED_DOWNLOAD_H_
#define SERVER_ATTRIBUTED_DOWNLOAD_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "server/link_token.h"
#include "server/release_base.h"

namespace server {

// What a download got, as a short code that stays the same from release to
// release (for logs that count downloads by it): kStamped, or why the base
// was sent: a link refusal's code (link_token.h), or one of these.
inline constexpr std::string_view kStamped = "stamped";
inline constexpr std::string_view kNoToken = "no-token";
inline constexpr std::string_view kRefusedValue = "refused-value";
inline constexpr std::string_view kServerFault = "server-fault";

struct DownloadDecision {
  bool stamped = false;
  std::string_view code;  // kStamped or the reason's code
  std::string value;      // the stamped value; empty otherwise
  std::string etag;       // DownloadEtag of what is sent
  std::string reason;     // why the base is sent unchanged; empty when stamped
};

// A download started before its link expired may finish after: a request
// for a range of the very copy it began (If-Range: that copy's ETag, as a
// browser resumes) gets it for `grace_seconds` past the expiry. Any other
// request of an expired link gets the base, so the grace lengthens no
// link's life for a new download.
inline constexpr uint64_t kDefaultResumeGraceSeconds = 7 * 24 * 60 * 60;
struct ResumeRequest {
  uint64_t grace_seconds = kDefaultResumeGraceSeconds;
  bool has_range = false;     // the request has a Range header
  std::string_view if_range;  // its If-Range header; empty when none
};

// `token` is the link's token (empty when the URL has none). When stamped,
// `slot_bytes` (release.slot.size bytes) holds the filled slot.
DownloadDecision DecideDownload(const LinkKeys& keys, std::string_view token,
                                std::string_view file_name, int64_t now,
                                const ResumeRequest& resume, const ReleaseBase& release,
                                installer::MutableByteSpan slot_bytes);

}  // namespace server

#endif  // SERVER_ATTRIBUTED_DOWNLOAD_H_
