// Base64url without padding (RFC 4648, section 5), the form in which a
// download link carries bytes in a URL path. Decoding is strict, so that
// each byte string has exactly one text form: no padding, no characters
// outside the alphabet, no length that leaves a lone character, and no
// unused bits set in the last character.
//
//   std::string text = Base64UrlEncode(bytes);
//   std::optional<std::string> back = Base64UrlDecode(text);  // == bytes
#ifndef SERVER_BASE64URL_H_
#define SERVER_BASE64URL_H_

#include <optional>
#include <string>
#include <string_view>

namespace server {

std::string Base64UrlEncode(std::string_view bytes);

// The bytes `text` encodes, or nothing when it is not in the strict form.
std::optional<std::string> Base64UrlDecode(std::string_view text);

// The length of the text form of `size` bytes.
constexpr size_t Base64UrlLength(size_t size) {
  return size / 3 * 4 + (size % 3 ? size % 3 + 1 : 0);
}

}  // namespace server

#endif  // SERVER_BASE64URL_H_
