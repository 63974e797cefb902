#include "strings/string_util.h"

#include <cstdint>

namespace strings {
namespace {

template <typename Char, typename IsSpace>
std::basic_string_view<Char> Trim(std::basic_string_view<Char> text, TrimPositions ends,
                                  IsSpace is_space) {
  size_t begin = 0;
  size_t end = text.size();
  if (ends != TrimPositions::kTrailing) {
    while (begin < end && is_space(text[begin])) ++begin;
  }
  if (ends != TrimPositions::kLeading) {
    while (end > begin && is_space(text[end - 1])) --end;
  }
  return text.substr(begin, end - begin);
}

}  // namespace

bool IsAsciiWhitespace(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ';
}

bool IsUnicodeWhitespace(wchar_t c) {
  switch (static_cast<uint32_t>(c)) {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::string AsciiToLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string_view TrimAsciiWhitespace(std::string_view text, TrimPositions ends) {
  return Trim(text, ends, IsAsciiWhitespace);
}

std::wstring_view TrimWideWhitespace(std::wstring_view text, TrimPositions ends) {
  return Trim(text, ends, IsUnicodeWhitespace);
}

bool IsAsciiText(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsAsciiText(std::wstring_view text) {
  for (wchar_t c : text) {
    if (static_cast<uint32_t>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace strings
