// Signed download links. A link names the release's file under a token that
// carries the attribution value, the link's expiry and the id of the key
// that signed it:
//
//   token   = base64url(value) "." expires "." key_id "." base64url(mac)
//   mac     = HMAC-SHA256(key, "MIRLINK1" || be32(len(file_name)) || file_name
//                              || be32(len(value)) || value || be64(expires))
//
// base64url is RFC 4648's URL alphabet without padding; `expires` is the
// Unix time in decimal (1 to 19 digits, no leading zero) at which the link
// stops working; `key_id` is 1 to 32 of [A-Za-z0-9_-]. The lengths in the
// MAC's input keep every (file name, value, expiry) apart. Several keys can
// be live at once, each under its own id, so that keys can be rotated.
//
//   LinkKeys keys;
//   keys.Add("k1", key, error);
//   std::string token = MakeLinkToken("k1", key, "mirelo_browser_setup.exe", "src=web", expires);
//   if (VerifyLinkToken(keys, token, "mirelo_browser_setup.exe", now, value, refusal)) ...
#ifndef SERVER_LINK_TOKEN_H_
#define SERVER_LINK_TOKEN_H_

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/hash/secret_bytes.h"
#include "base/hash/sha256.h"
#include "mir_installer_win/installer/channel_info.h"
#include "server/base64url.h"

namespace server {

inline constexpr std::string_view kLinkVersionTag = "MIRLINK1";
inline constexpr size_t kMinLinkKeySize = 32;
inline constexpr size_t kMaxLinkKeySize = 4096;
inline constexpr size_t kMaxKeyIdLength = 32;
inline constexpr size_t kMaxExpiresDigits = 19;
// The longest token: the longest value, expiry and key id.
inline constexpr size_t kMaxLinkTokenLength = Base64UrlLength(installer::kMaxChannelInfoLength) +
                                              kMaxExpiresDigits + kMaxKeyIdLength +
                                              Base64UrlLength(base::kSha256Size) + 3;

struct LinkToken {
  std::string value;
  uint64_t expires = 0;
  std::string key_id;
  base::Sha256Digest mac{};
};

bool IsValidKeyId(std::string_view id);

// A link's expiry from its decimal text: 1 to 19 digits without a leading
// zero (so it always fits 64 bits); false otherwise.
bool ParseLinkExpires(std::string_view text, uint64_t& expires);

// The token's fields; false with the reason when `text` is not a token in
// the form above. Checks the length first, so nothing is allocated for a
// longer text.
bool ParseLinkToken(std::string_view text, LinkToken& token, std::string& error);

std::string FormatLinkToken(const LinkToken& token);

base::Sha256Digest LinkMac(std::span<const uint8_t> key, std::string_view file_name,
                           std::string_view value, uint64_t expires);

std::string MakeLinkToken(std::string_view key_id, std::span<const uint8_t> key,
                          std::string_view file_name, std::string_view value, uint64_t expires);

// The keys a server accepts, by id, each wiped when it goes.
class LinkKeys {
 public:
  // False with the reason for a malformed or repeated id or a key of the
  // wrong size; a refused key is wiped too.
  bool Add(std::string_view id, base::SecretBytes key, std::string& error);
  // The key with `id`, or null.
  const base::SecretBytes* Find(std::string_view id) const;
  bool empty() const { return keys_.empty(); }

 private:
  std::map<std::string, base::SecretBytes, std::less<>> keys_;
};

// Why a link was refused: a short code that stays the same from release to
// release, for logs that count downloads by it, and the whole reason.
inline constexpr std::string_view kLinkMalformed = "malformed";
inline constexpr std::string_view kLinkUnknownKey = "unknown-key";
inline constexpr std::string_view kLinkForged = "forged";
inline constexpr std::string_view kLinkExpired = "expired";
struct LinkRefusal {
  std::string_view code;  // one of the four above
  std::string reason;
};

// Whether `text` is a token for `file_name` that one of `keys` signed, its
// expiry aside: true with its fields, or false with the refusal. The MAC is
// compared in constant time.
bool AuthenticateLinkToken(const LinkKeys& keys, std::string_view text, std::string_view file_name,
                           LinkToken& token, LinkRefusal& refusal);

// The refusal of an authentic token past its expiry.
LinkRefusal ExpiredLinkRefusal(const LinkToken& token);

// Whether `text` is a token for `file_name` that one of `keys` signed and
// that has not expired at `now` (Unix time): true with the value it carries,
// or false with the refusal. The value itself is not judged here.
bool VerifyLinkToken(const LinkKeys& keys, std::string_view text, std::string_view file_name,
                     int64_t now, std::string& value, LinkRefusal& refusal);

}  // namespace server

#endif  // SERVER_LINK_TOKEN_H_
