// ASCII and Unicode helpers for 8-bit and wide text: case folding of ASCII
// letters, whitespace trimming and the ASCII test.
#ifndef STRINGS_STRING_UTIL_H_
#define STRINGS_STRING_UTIL_H_

#include <string>
#include <string_view>

namespace strings {

enum class TrimPositions { kLeading, kTrailing, kBoth };

// HT, LF, VT, FF, CR and blank.
bool IsAsciiWhitespace(char c);
// The 25 code points of Unicode's White_Space property.
bool IsUnicodeWhitespace(wchar_t c);

// A copy with A..Z mapped to a..z; every other byte unchanged.
std::string AsciiToLower(std::string_view text);

// Views of `text` without the ASCII (resp. Unicode) whitespace at the given ends.
std::string_view TrimAsciiWhitespace(std::string_view text, TrimPositions ends);
std::wstring_view TrimWideWhitespace(std::wstring_view text, TrimPositions ends);

// True when every unit is below 0x80; an empty text is ASCII.
bool IsAsciiText(std::string_view text);
bool IsAsciiText(std::wstring_view text);

}  // namespace strings

#endif  // STRINGS_STRING_UTIL_H_
