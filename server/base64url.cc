#include "server/base64url.h"

#include <cstdint>

namespace server {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The six bits a character stands for, or -1.
int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

}  // namespace

std::string Base64UrlEncode(std::string_view bytes) {
  std::string text;
  text.reserve(Base64UrlLength(bytes.size()));
  uint32_t bits = 0;
  int count = 0;
  for (const char c : bytes) {
    bits = bits << 8 | static_cast<uint8_t>(c);
    count += 8;
    while (count >= 6) {
      count -= 6;
      text.push_back(kAlphabet[(bits >> count) & 63]);
    }
  }
  if (count > 0) text.push_back(kAlphabet[(bits << (6 - count)) & 63]);
  return text;
}

std::optional<std::string> Base64UrlDecode(std::string_view text) {
  if (text.size() % 4 == 1) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3 + 2);
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const int sextet = Sextet(c);
    if (sextet < 0) return std::nullopt;
    bits = bits << 6 | static_cast<uint32_t>(sextet);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  // The bits left over must be zero: otherwise two texts would give the same bytes.
  if ((bits & ((1u << count) - 1)) != 0) return std::nullopt;
  return bytes;
}

}  // namespace server
