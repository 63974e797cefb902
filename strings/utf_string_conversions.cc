#include "strings/utf_string_conversions.h"

#include "strings/string_util.h"

namespace strings {

uint32_t DecodeUtf8Sequence(std::string_view bytes, size_t& length) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) {
    length = 1;
    return lead;
  }
  // The ranges of the well-formed sequences: the second byte's range depends
  // on the lead byte, every later byte is 80..BF.
  size_t trail_count;
  uint32_t code_point;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail_count = 1;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail_count = 2;
    code_point = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail_count = 3;
    code_point = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    length = 1;
    return kInvalidCodePoint;
  }
  size_t i = 1;
  for (; i <= trail_count; ++i) {
    if (i >= bytes.size()) break;
    const auto trail = static_cast<unsigned char>(bytes[i]);
    if (trail < low || trail > high) break;
    code_point = (code_point << 6) | (trail & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  length = i;
  return i > trail_count ? code_point : kInvalidCodePoint;
}

std::wstring Utf8ToWide(std::string_view utf8) {
  if (IsAsciiText(utf8)) return std::wstring(utf8.begin(), utf8.end());
  std::wstring wide;
  wide.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t length;
    uint32_t code_point = DecodeUtf8Sequence(utf8.substr(pos), length);
    pos += length;
    if (code_point == kInvalidCodePoint) code_point = kReplacementCharacter;
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      wide.push_back(static_cast<wchar_t>(0xD800 + (code_point >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(code_point));
    }
  }
  return wide;
}

std::string WideToUtf8(std::wstring_view utf16) {
  if (IsAsciiText(utf16)) return std::string(utf16.begin(), utf16.end());
  std::string utf8;
  utf8.reserve(utf16.size() * 3);
  for (size_t i = 0; i < utf16.size(); ++i) {
    uint32_t unit = static_cast<uint32_t>(utf16[i]) & 0xFFFF;
    uint32_t code_point = unit;
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      const bool paired = unit <= 0xDBFF && i + 1 < utf16.size() &&
                          (static_cast<uint32_t>(utf16[i + 1]) & 0xFFFF) >= 0xDC00 &&
                          (static_cast<uint32_t>(utf16[i + 1]) & 0xFFFF) <= 0xDFFF;
      if (paired) {
        code_point = 0x10000 + ((unit - 0xD800) << 10) +
                     ((static_cast<uint32_t>(utf16[++i]) & 0xFFFF) - 0xDC00);
      } else {
        code_point = kReplacementCharacter;
      }
    }
    if (code_point < 0x80) {
      utf8.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
      utf8.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
      utf8.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
      utf8.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
  }
  return utf8;
}

}  // namespace strings
