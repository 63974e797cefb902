// The strong ETag of a download. The base's is the one nginx gives a static
// file, "<mtime hex>-<size hex>" in quotes; a stamped copy's adds the first
// 16 hex digits of the SHA-256 of its value, so that each value has its own
// and a resumed download (If-Range) never mixes two values' bytes.
#ifndef SERVER_DOWNLOAD_ETAG_H_
#define SERVER_DOWNLOAD_ETAG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace server {

// `mtime` in Unix seconds, `size` in bytes; no value: the base's.
std::string DownloadEtag(int64_t mtime, uint64_t size, std::optional<std::string_view> value);

}  // namespace server

#endif  // SERVER_DOWNLOAD_ETAG_H_
