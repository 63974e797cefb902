// Conversions between UTF-8 and UTF-16 text.
//
// Wide strings hold UTF-16 code units on every build (on Linux each wchar_t
// carries one unit). Neither conversion fails: every maximal ill-formed
// subpart of the input becomes one U+FFFD, as the Unicode Standard
// recommends, so the output is always well formed.
//
//   std::wstring w = Utf8ToWide("caf\xC3\xA9");  // L"caf\u00E9"
//   std::string s = WideToUtf8(w);              // the same bytes again
#ifndef STRINGS_UTF_STRING_CONVERSIONS_H_
#define STRINGS_UTF_STRING_CONVERSIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace strings {

inline constexpr uint32_t kReplacementCharacter = 0xFFFD;
inline constexpr uint32_t kInvalidCodePoint = 0xFFFFFFFF;

// Decodes the UTF-8 sequence at the start of `bytes` (which must not be
// empty). Returns its code point and sets `length` to its size, or returns
// kInvalidCodePoint and sets `length` to the size of the maximal ill-formed
// subpart there (at least 1).
uint32_t DecodeUtf8Sequence(std::string_view bytes, size_t& length);

// True for U+FDD0..U+FDEF and every code point ending in FFFE or FFFF.
constexpr bool IsNoncharacter(uint32_t code_point) {
  return (code_point >= 0xFDD0 && code_point <= 0xFDEF) || (code_point & 0xFFFE) == 0xFFFE;
}

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view utf16);

}  // namespace strings

#endif  // STRINGS_UTF_STRING_CONVERSIONS_H_
