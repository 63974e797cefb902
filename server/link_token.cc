#include "server/link_token.h"

#include <algorithm>

namespace server {
namespace {

void AppendBigEndian(std::string& bytes, uint64_t value, int size) {
  for (int i = size - 1; i >= 0; --i) bytes.push_back(static_cast<char>(value >> (8 * i)));
}

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

bool ParseLinkExpires(std::string_view text, uint64_t& expires) {
  if (text.empty() || text.size() > kMaxExpiresDigits || (text[0] == '0' && text.size() > 1)) {
    return false;
  }
  expires = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    expires = expires * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

bool IsValidKeyId(std::string_view id) {
  return !id.empty() && id.size() <= kMaxKeyIdLength &&
         std::all_of(id.begin(), id.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
         });
}

bool ParseLinkToken(std::string_view text, LinkToken& token, std::string& error) {
  if (text.size() > kMaxLinkTokenLength) {
    error = "the token is longer than any valid one";
    return false;
  }
  std::string_view fields[4];
  size_t count = 0;
  for (size_t start = 0;;) {
    const size_t dot = text.find('.', start);
    if (count == 4) {
      error = "the token has more than four fields";
      return false;
    }
    fields[count++] = text.substr(start, dot - start);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (count != 4) {
    error = "the token has fewer than four fields";
    return false;
  }
  std::optional<std::string> value = Base64UrlDecode(fields[0]);
  if (!value) {
    error = "the token's value is not base64url";
    return false;
  }
  if (!ParseLinkExpires(fields[1], token.expires)) {
    error = "the token's expiry is not a decimal number";
    return false;
  }
  if (!IsValidKeyId(fields[2])) {
    error = "the token's key id is malformed";
    return false;
  }
  const std::optional<std::string> mac = Base64UrlDecode(fields[3]);
  if (!mac || mac->size() != token.mac.size()) {
    error = "the token's MAC is not 32 bytes of base64url";
    return false;
  }
  token.value = std::move(*value);
  token.key_id = std::string(fields[2]);
  std::copy(mac->begin(), mac->end(), token.mac.begin());
  return true;
}

std::string FormatLinkToken(const LinkToken& token) {
  const auto mac = reinterpret_cast<const char*>(token.mac.data());
  return Base64UrlEncode(token.value) + "." + std::to_string(token.expires) + "." + token.key_id +
         "." + Base64UrlEncode(std::string_view(mac, token.mac.size()));
}

base::Sha256Digest LinkMac(std::span<const uint8_t> key, std::string_view file_name,
                           std::string_view value, uint64_t expires) {
  std::string message(kLinkVersionTag);
  AppendBigEndian(message, file_name.size(), 4);
  message += file_name;
  AppendBigEndian(message, value.size(), 4);
  message += value;
  AppendBigEndian(message, expires, 8);
  return base::HmacSha256(key, Bytes(message));
}

std::string MakeLinkToken(std::string_view key_id, std::span<const uint8_t> key,
                          std::string_view file_name, std::string_view value, uint64_t expires) {
  LinkToken token;
  token.value = std::string(value);
  token.expires = expires;
  token.key_id = std::string(key_id);
  token.mac = LinkMac(key, file_name, value, expires);
  return FormatLinkToken(token);
}

bool LinkKeys::Add(std::string_view id, base::SecretBytes key, std::string& error) {
  if (!IsValidKeyId(id)) {
    error = "a key id is 1 to 32 of A-Z a-z 0-9 - _";
  } else if (key.size() < kMinLinkKeySize || key.size() > kMaxLinkKeySize) {
    error = "a key is 32 to 4096 bytes long";
  } else if (!keys_.emplace(std::string(id), std::move(key)).second) {
    error = "the key id is given twice";
  } else {
    return true;
  }
  return false;
}

const base::SecretBytes* LinkKeys::Find(std::string_view id) const {
  const auto found = keys_.find(id);
  return found == keys_.end() ? nullptr : &found->second;
}

bool AuthenticateLinkToken(const LinkKeys& keys, std::string_view text, std::string_view file_name,
                           LinkToken& token, LinkRefusal& refusal) {
  if (!ParseLinkToken(text, token, refusal.reason)) {
    refusal.code = kLinkMalformed;
    return false;
  }
  const base::SecretBytes* key = keys.Find(token.key_id);
  if (!key) {
    refusal = {kLinkUnknownKey, "no key has the token's id " + token.key_id};
    return false;
  }
  const base::Sha256Digest expected = LinkMac(key->span(), file_name, token.value, token.expires);
  if (!base::ConstantTimeEquals(expected, token.mac)) {
    refusal = {kLinkForged, "the token's MAC does not match (forged, altered or for another file)"};
    return false;
  }
  return true;
}

LinkRefusal ExpiredLinkRefusal(const LinkToken& token) {
  return {kLinkExpired, "the link expired at " + std::to_string(token.expires)};
}

bool VerifyLinkToken(const LinkKeys& keys, std::string_view text, std::string_view file_name,
                     int64_t now, std::string& value, LinkRefusal& refusal) {
  LinkToken token;
  if (!AuthenticateLinkToken(keys, text, file_name, token, refusal)) return false;
  if (now < 0 || static_cast<uint64_t>(now) >= token.expires) {
    refusal = ExpiredLinkRefusal(token);
    return false;
  }
  value = std::move(token.value);
  return true;
}

}  // namespace server
