// Link tokens from hostile URLs: any text either parses or is refused, never
// crashes; what parses has exactly one text form (the text it came from), so
// no two tokens carry the same fields; base64url decoding is strict the same
// way; and a token verifies only when its MAC is the one for its fields.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/base64url.h"
#include "server/link_token.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto bytes = server::Base64UrlDecode(text)) {
    if (server::Base64UrlEncode(*bytes) != text) std::abort();
  }
  server::LinkToken token;
  std::string error;
  if (!server::ParseLinkToken(text, token, error)) return 0;
  if (server::FormatLinkToken(token) != text) std::abort();

  server::LinkKeys keys;
  base::SecretBytes key(32);
  std::fill(key.data(), key.data() + key.size(), uint8_t{0x5a});
  if (!keys.Add(token.key_id, base::SecretBytes(std::move(key)), error)) std::abort();
  const std::vector<uint8_t> same_key(32, 0x5a);
  std::string value;
  server::LinkRefusal refusal;
  const bool verified =
      server::VerifyLinkToken(keys, text, "mirelo_browser_setup.exe", 0, value, refusal);
  const bool mac_matches = token.mac == server::LinkMac(same_key, "mirelo_browser_setup.exe",
                                                        token.value, token.expires);
  if (verified != (mac_matches && token.expires > 0)) std::abort();
  if (verified && value != token.value) std::abort();
  return 0;
}
