// Both conversions must produce well-formed output for any input, and
// well-formed input must survive a round trip unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "strings/utf_string_conversions.h"

namespace {

bool IsWellFormedUtf8(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t length;
    if (strings::DecodeUtf8Sequence(bytes.substr(pos), length) == strings::kInvalidCodePoint)
      return false;
    pos += length;
  }
  return true;
}

bool IsWellFormedUtf16(const std::wstring& units) {
  for (size_t i = 0; i < units.size(); ++i) {
    const uint32_t unit = static_cast<uint32_t>(units[i]);
    if (unit > 0xFFFF) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= units.size()) return false;
      const uint32_t next = static_cast<uint32_t>(units[++i]);
      if (next < 0xDC00 || next > 0xDFFF) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::wstring wide = strings::Utf8ToWide(bytes);
  if (!IsWellFormedUtf16(wide)) abort();
  if (IsWellFormedUtf8(bytes) && strings::WideToUtf8(wide) != bytes) abort();

  std::wstring units;
  for (size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  }
  const std::string utf8 = strings::WideToUtf8(units);
  if (!IsWellFormedUtf8(utf8)) abort();
  if (IsWellFormedUtf16(units) && strings::Utf8ToWide(utf8) != units) abort();
  return 0;
}
