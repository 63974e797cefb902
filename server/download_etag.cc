#include "server/download_etag.h"

#include <cinttypes>
#include <cstdio>
#include <span>

#include "base/hash/sha256.h"

namespace server {

std::string DownloadEtag(int64_t mtime, uint64_t size, std::optional<std::string_view> value) {
  char text[64];
  // nginx prints the time as an unsigned hexadecimal number too.
  std::snprintf(text, sizeof text, "\"%" PRIx64 "-%" PRIx64, static_cast<uint64_t>(mtime), size);
  std::string etag = text;
  if (value) {
    const base::Sha256Digest digest =
        base::Sha256Of(std::span(reinterpret_cast<const uint8_t*>(value->data()), value->size()));
    etag += "-" + base::HexEncode(std::span(digest).first(8));
  }
  return etag + "\"";
}

}  // namespace server
