// The strong ETag of a download, from content only, so that every copy of a
// release on every server (cp, rsync, a CDN's shield) gives the same one:
//
//   base          "<R16>"
//   stamped copy  "<R16>-<V16>"
//
// R16 being the first 16 hex digits of the release digest (ReleaseBase), V16
// those of SHA-256(value), lower-case. Each value has its own, so a resumed
// download (If-Range) never joins two values' bytes.
#ifndef SERVER_DOWNLOAD_ETAG_H_
#define SERVER_DOWNLOAD_ETAG_H_

#include <optional>
#include <string>
#include <string_view>

#include "base/hash/sha256.h"

namespace server {

// `release_digest`: ReleaseBase::digest; no value: the base's.
std::string DownloadEtag(const base::Sha256Digest& release_digest,
                         std::optional<std::string_view> value);

// The stamped copies' ETag with the value's part described, for a plan.
std::string StampedEtagRule(const base::Sha256Digest& release_digest);

}  // namespace server

#endif  // SERVER_DOWNLOAD_ETAG_H_
