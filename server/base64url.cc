#include "server/base64url.h"

#include "absl/strings/escaping.h"

namespace server {
namespace {

// Debian's Abseil has a string_view of its own.
absl::string_view Absl(std::string_view text) { return {text.data(), text.size()}; }

}  // namespace

std::string Base64UrlEncode(std::string_view bytes) {
  return absl::WebSafeBase64Escape(Absl(bytes));
}

std::optional<std::string> Base64UrlDecode(std::string_view text) {
  // Abseil's decoder takes padding and unused bits set too: the strict form
  // is the one text it encodes the bytes to.
  std::string bytes;
  if (!absl::WebSafeBase64Unescape(Absl(text), &bytes) ||
      absl::WebSafeBase64Escape(bytes) != text) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace server
