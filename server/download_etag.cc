#include "server/download_etag.h"

#include <span>

namespace server {
namespace {

constexpr size_t kDigestPartSize = 8;  // bytes: 16 hex digits

std::string Part(const base::Sha256Digest& digest) {
  return base::HexEncode(std::span(digest).first(kDigestPartSize));
}

}  // namespace

std::string DownloadEtag(const base::Sha256Digest& release_digest,
                         std::optional<std::string_view> value) {
  std::string etag = "\"" + Part(release_digest);
  if (value) {
    etag += "-" + Part(base::Sha256Of(
                      std::span(reinterpret_cast<const uint8_t*>(value->data()), value->size())));
  }
  return etag + "\"";
}

std::string StampedEtagRule(const base::Sha256Digest& release_digest) {
  return "\"" + Part(release_digest) + "-<first 16 hex digits of SHA-256(value)>\"";
}

}  // namespace server
