#include "mir_installer_win/setup_launcher/attribution_source_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "strings/utf_string_conversions.h"

namespace setup_launcher {
namespace {

TEST(AttributionSourceTest, OnlyFilesOnLocalDrives) {
  wchar_t current[MAX_PATH] = {};
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 2u);
  const std::wstring drive(current, 2);  // "C:"
  const struct {
    std::wstring source;
    std::wstring expected;  // empty: refused
  } cases[] = {
      {L"C:\\Downloads\\source.bin", L"C:\\Downloads\\source.bin"},
      {L"C:/Downloads/source.bin", L"C:\\Downloads\\source.bin"},
      {L"source.bin", std::wstring(current) + L"\\source.bin"},
      {L"\\source.bin", drive + L"\\source.bin"},
      {L"\\\\host\\share\\source.bin", L""},
      {L"//host/share/source.bin", L""},
      {L"\\/host\\share\\source.bin", L""},
      {L"\\\\.\\pipe\\mir_attribution", L""},
      {L"\\\\?\\C:\\Downloads\\source.bin", L""},
      {L"\\\\?\\UNC\\host\\share\\source.bin", L""},
      {L"\\\\.\\C:", L""},
      {L"\\\\.\\PhysicalDrive0", L""},
      {L"NUL", L""},
      {L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(strings::WideToUtf8(c.source));
    EXPECT_EQ(LocalAttributionSource(base::PathValue(c.source)).Text(), c.expected);
  }
}

}  // namespace
}  // namespace setup_launcher
