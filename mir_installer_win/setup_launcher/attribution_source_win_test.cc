#include "mir_installer_win/setup_launcher/attribution_source_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>

#include "strings/utf_string_conversions.h"
#include "testing/scoped_temp_dir.h"
#include "testing/symbolic_link_win.h"

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

// What is opened decides, not the name: a link anywhere on the way is
// refused, and what the system opened must be the file named.
TEST(AttributionSourceTest, OpensOnlyTheNamedFileItself) {
  using Verdict = AttributionSource::Verdict;
  test_support::ScopedTempDir root;
  std::filesystem::create_directory(root.path() / "folder");
  test_support::WriteBytes(root.path() / "folder" / "source.bin", "S");
  std::wstring upper = root.Wide(L"folder\\source.bin");
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  const test_support::ScopedSymbolicLink file_link(root.Wide(L"file_link.bin"),
                                                   root.Wide(L"folder\\source.bin"), false);
  const test_support::ScopedSymbolicLink folder_link(root.Wide(L"folder_link"),
                                                     root.Wide(L"folder"), true);
  ASSERT_TRUE(file_link.made() && folder_link.made());
  const struct {
    std::wstring source;
    Verdict verdict;
    uint32_t error;
  } cases[] = {
      {root.Wide(L"folder\\source.bin"), Verdict::kOpened, 0},
      {upper, Verdict::kOpened, 0},
      {root.Wide(L"folder\\..\\folder\\source.bin"), Verdict::kOpened, 0},
      {root.Wide(L"folder\\missing.bin"), Verdict::kOpenFailed, ERROR_FILE_NOT_FOUND},
      {root.Wide(L"missing\\source.bin"), Verdict::kOpenFailed, ERROR_FILE_NOT_FOUND},
      {root.Wide(L"file_link.bin"), Verdict::kThroughLink, 0},
      {root.Wide(L"folder_link\\source.bin"), Verdict::kThroughLink, 0},
      {L"\\\\127.0.0.1\\share\\source.bin", Verdict::kNotLocal, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(strings::WideToUtf8(c.source));
    const AttributionSource opened = OpenAttributionSource(base::PathValue(c.source));
    EXPECT_EQ(opened.verdict, c.verdict);
    EXPECT_EQ(opened.error, c.error);
    char byte = 0;
    DWORD read = 0;
    EXPECT_EQ(ReadFile(opened.file.Get(), &byte, 1, &read, nullptr) && byte == 'S',
              c.verdict == Verdict::kOpened);
  }
}

}  // namespace
}  // namespace setup_launcher
