// Payload extraction from this test program's own resources (301: a few
// bytes, 302: empty), and the work directory.
#include "mir_installer_win/setup_launcher/payload_extraction_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/win/scoped_handle.h"
#include "testing/log_capture.h"
#include "testing/scoped_environment_variable_win.h"

namespace {

using ::testing::ElementsAre;

std::string At(int line, const std::string& text, const char* severity = "INFO") {
  return std::string(severity) +
         ":mir_installer_win/setup_launcher/setup_launcher_main:" + std::to_string(line) + "] " +
         text;
}

class PayloadExtractionTest : public ::testing::Test {
 protected:
  PathValue Destination() const { return PathValue(dir_.Wide(L"MIR_SETUP_GUIDE_EXE_NAME")); }

  ScopedTempDir dir_;
  ScopedLogCapture capture_;
};

TEST_F(PayloadExtractionTest, WritesTheWholeResourceOverAnExistingFile) {
  WriteBytes(Destination().Text(), std::string(1000, 'x'));
  ASSERT_TRUE(ExtractResourceToFile(301, Destination()));
  const std::string expected("MZ-like payload bytes \x00\x01\x02\xff for extraction", 41);
  EXPECT_EQ(ReadBytes(Destination().Text()), expected);
  const std::string path = Destination().ToUtf8();
  EXPECT_THAT(capture_.Bodies(), ElementsAre(At(48, "Extracting resource 301 to " + path),
                                             At(77, "Resource size: 41 bytes"),
                                             At(89, "Successfully extracted resource to " + path)));
}

TEST_F(PayloadExtractionTest, EmptyResourceIsInvalid) {
  EXPECT_FALSE(ExtractResourceToFile(302, Destination()));
  EXPECT_THAT(capture_.Bodies(),
              ElementsAre(::testing::_, At(73, "Invalid resource for 302, size: 0", "ERROR")));
}

TEST_F(PayloadExtractionTest, MissingResourceReportsTheLookupError) {
  ASSERT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(999), L"BINARY"), nullptr);
  const DWORD error = GetLastError();
  EXPECT_FALSE(ExtractResourceToFile(999, Destination()));
  EXPECT_THAT(
      capture_.Bodies(),
      ElementsAre(::testing::_,
                  At(59, "FindResource failed for 999, error: " + std::to_string(error), "ERROR")));
}

TEST_F(PayloadExtractionTest, UnwritableDestinationReportsTheOpenError) {
  WriteBytes(Destination().Text(), "held");
  ScopedHandle holder(CreateFileW(Destination().Text().c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.IsValid());
  EXPECT_FALSE(ExtractResourceToFile(301, Destination()));
  EXPECT_THAT(capture_.Bodies().back(),
              At(85, "WriteFile failed for " + Destination().ToUtf8() + ", error: 32", "ERROR"));
}

TEST_F(PayloadExtractionTest, WorkDirectoryIsNamedAfterTheProcessAndTheTicks) {
  ScopedEnvironmentVariable tmp(L"TMP", dir_.Wide() + L"\\");
  const DWORD before = GetTickCount();
  const PathValue work = CreateWorkDirectory();
  const DWORD after = GetTickCount();
  ASSERT_FALSE(work.empty());
  EXPECT_EQ(work.ParentDir().Text(), dir_.Wide());
  const std::string prefix = "MirSetup_" + std::to_string(GetCurrentProcessId()) + "_";
  const std::string name = work.LastComponent().ToUtf8();
  ASSERT_THAT(name, ::testing::StartsWith(prefix));
  const unsigned long ticks = std::stoul(name.substr(prefix.size()));
  EXPECT_GE(ticks, before);
  EXPECT_LE(ticks, after);
  EXPECT_TRUE(std::filesystem::is_directory(work.Text()));
  EXPECT_THAT(capture_.Bodies(), ElementsAre(At(195, "Temp directory created: " + work.ToUtf8())));
}

TEST_F(PayloadExtractionTest, WorkDirectoryFailures) {
  WriteBytes(dir_.path() / "file", "x");
  {
    ScopedEnvironmentVariable tmp(L"TMP",
                                  dir_.Wide(L"file"));  // a file where the directory should go
    EXPECT_TRUE(CreateWorkDirectory().empty());
  }
  {
    ScopedEnvironmentVariable tmp(L"TMP", L"C:\\" + std::wstring(300, 'x'));
    EXPECT_TRUE(CreateWorkDirectory().empty());
  }
  EXPECT_TRUE(capture_.lines().empty());
}

}  // namespace
