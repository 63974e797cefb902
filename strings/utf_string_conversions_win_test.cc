// Our conversions against the system's (MultiByteToWideChar and
// WideCharToMultiByte on CP_UTF8) over many generated inputs. Well-formed
// text must convert identically; for ill-formed input the system may
// replace differently, so differences are counted and shown, and our
// results are checked against the Unicode Standard's maximal subparts by
// the portable tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string_view>

#include "strings/utf_string_conversions.h"

namespace strings {
namespace {

std::wstring SystemToWide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

std::string SystemToUtf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length,
                      nullptr, nullptr);
  return utf8;
}

// Which inputs must convert identically is decided here, independently of
// the code under test: Table 3-7 of the Unicode Standard (Well-Formed UTF-8
// Byte Sequences), row by row.
bool IsWellFormed(std::string_view bytes) {
  size_t i = 0;
  const auto in = [&](size_t k, unsigned low, unsigned high) {
    return i + k < bytes.size() && static_cast<unsigned char>(bytes[i + k]) >= low &&
           static_cast<unsigned char>(bytes[i + k]) <= high;
  };
  const auto trail = [&](size_t k) { return in(k, 0x80, 0xBF); };
  while (i < bytes.size()) {
    if (in(0, 0x00, 0x7F)) {
      i += 1;
    } else if (in(0, 0xC2, 0xDF) && trail(1)) {
      i += 2;
    } else if ((in(0, 0xE0, 0xE0) && in(1, 0xA0, 0xBF) && trail(2)) ||
               ((in(0, 0xE1, 0xEC) || in(0, 0xEE, 0xEF)) && trail(1) && trail(2)) ||
               (in(0, 0xED, 0xED) && in(1, 0x80, 0x9F) && trail(2))) {
      i += 3;
    } else if ((in(0, 0xF0, 0xF0) && in(1, 0x90, 0xBF) && trail(2) && trail(3)) ||
               (in(0, 0xF1, 0xF3) && trail(1) && trail(2) && trail(3)) ||
               (in(0, 0xF4, 0xF4) && in(1, 0x80, 0x8F) && trail(2) && trail(3))) {
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

// A surrogate that is not half of a high-low pair.
bool HasLoneSurrogate(std::wstring_view units) {
  for (size_t i = 0; i < units.size(); ++i) {
    const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
    const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      return true;
    }
  }
  return false;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char buffer[4];
  for (unsigned char c : bytes) {
    snprintf(buffer, sizeof(buffer), "%02X ", c);
    hex += buffer;
  }
  return hex;
}

TEST(UtfConversionsAgainstTheSystemTest, Utf8ToWide) {
  // Bytes chosen near every boundary of the well-formed ranges.
  static const unsigned char kBytes[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                         0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED,
                                         0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
  std::mt19937 random(7);
  int well_formed = 0, ill_formed = 0, differences = 0;
  for (int round = 0; round < 200000; ++round) {
    std::string bytes;
    const int length = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < length; ++i)
      bytes.push_back(static_cast<char>(kBytes[random() % std::size(kBytes)]));
    if (IsWellFormed(bytes)) {
      ++well_formed;
      ASSERT_EQ(Utf8ToWide(bytes), SystemToWide(bytes)) << Hex(bytes);
    } else {
      ++ill_formed;
      if (Utf8ToWide(bytes) != SystemToWide(bytes) && ++differences <= 5) {
        std::printf("differs on %s: ours %zu units, the system's %zu\n", Hex(bytes).c_str(),
                    Utf8ToWide(bytes).size(), SystemToWide(bytes).size());
      }
    }
  }
  std::printf("well-formed %d (all equal), ill-formed %d, of which %d differ\n", well_formed,
              ill_formed, differences);
  EXPECT_GT(well_formed, 1000);
}

TEST(UtfConversionsAgainstTheSystemTest, WideToUtf8) {
  static const uint32_t kUnits[] = {0x41,   0x7F,   0x80,   0x7FF,  0x800,  0xD7FF, 0xD800,
                                    0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
  std::mt19937 random(11);
  int with_lone_surrogates = 0, differences = 0;
  for (int round = 0; round < 200000; ++round) {
    std::wstring units;
    const int length = 1 + static_cast<int>(random() % 5);
    for (int i = 0; i < length; ++i)
      units.push_back(static_cast<wchar_t>(kUnits[random() % std::size(kUnits)]));
    const std::string ours = WideToUtf8(units);
    if (!HasLoneSurrogate(units)) {
      ASSERT_EQ(ours, SystemToUtf8(units));  // no lone surrogate: identical
    } else {
      ++with_lone_surrogates;
      if (ours != SystemToUtf8(units) && ++differences <= 5) {
        std::printf("differs: ours %s, the system's %s\n", Hex(ours).c_str(),
                    Hex(SystemToUtf8(units)).c_str());
      }
    }
  }
  std::printf("inputs with lone surrogates %d, of which %d differ\n", with_lone_surrogates,
              differences);
}

}  // namespace
}  // namespace strings
