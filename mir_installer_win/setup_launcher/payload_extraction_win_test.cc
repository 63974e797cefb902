// Payload extraction from this test program's own resources (301: a few
// bytes, 302: empty), and the work directory.
#include "mir_installer_win/setup_launcher/payload_extraction_win.h"

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/files/private_directory_win.h"
#include "base/win/scoped_handle.h"
#include "testing/expected_log_line.h"
#include "testing/log_capture.h"
#include "testing/scoped_environment_variable_win.h"

namespace setup_launcher {
namespace {

using test_support::LauncherLine;
using test_support::ReadBytes;
using test_support::ScopedEnvironmentVariable;
using test_support::ScopedLogCapture;
using test_support::ScopedTempDir;
using test_support::WriteBytes;

using ::testing::ElementsAre;

class PayloadExtractionTest : public ::testing::Test {
 protected:
  base::PathValue Destination() const {
    return base::PathValue(dir_.Wide(L"MIR_SETUP_GUIDE_EXE_NAME"));
  }

  ScopedTempDir dir_;
  ScopedLogCapture capture_;
};

TEST_F(PayloadExtractionTest, WritesTheWholeResourceOverAnExistingFile) {
  WriteBytes(Destination().Text(), std::string(1000, 'x'));
  base::ScopedHandle hold;
  ASSERT_TRUE(ExtractResourceToFile(301, Destination(), hold));
  const std::string expected("MZ-like payload bytes \x00\x01\x02\xff for extraction", 41);
  EXPECT_EQ(ReadBytes(Destination().Text()), expected);
  const std::string path = Destination().ToUtf8();
  EXPECT_THAT(capture_.Bodies(),
              ElementsAre(LauncherLine(48, "Extracting resource 301 to " + path),
                          LauncherLine(77, "Resource size: 41 bytes"),
                          LauncherLine(89, "Successfully extracted resource to " + path)));
}

TEST_F(PayloadExtractionTest, WrittenPayloadCannotBeSwappedWhileHeld) {
  base::ScopedHandle hold;
  ASSERT_TRUE(ExtractResourceToFile(301, Destination(), hold));
  ASSERT_TRUE(hold.IsValid());
  WriteBytes(dir_.path() / "other.exe", "someone else's program");
  const std::wstring payload = Destination().Text();
  EXPECT_FALSE(DeleteFileW(payload.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(
      MoveFileExW(dir_.Wide(L"other.exe").c_str(), payload.c_str(), MOVEFILE_REPLACE_EXISTING));
  base::ScopedHandle writer(
      CreateFileW(payload.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer.IsValid());
  // Reading, as a process being started from it does, is allowed.
  base::ScopedHandle reader(CreateFileW(payload.c_str(), GENERIC_READ | FILE_EXECUTE,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
  EXPECT_TRUE(reader.IsValid()) << GetLastError();
  reader.Close();
  hold.Close();
  EXPECT_TRUE(DeleteFileW(payload.c_str()));
}

TEST_F(PayloadExtractionTest, FileThatDoesNotHoldWhatWasWrittenIsRefused) {
  // The null device takes every byte and gives none back.
  base::ScopedHandle hold;
  EXPECT_FALSE(ExtractResourceToFile(301, base::PathValue(L"NUL"), hold));
  EXPECT_FALSE(hold.IsValid());
  EXPECT_THAT(capture_.Bodies().back(),
              LauncherLine(85, "WriteFile failed for NUL, error: 1006", "ERROR"));
}

TEST_F(PayloadExtractionTest, EmptyResourceIsInvalid) {
  base::ScopedHandle hold;
  EXPECT_FALSE(ExtractResourceToFile(302, Destination(), hold));
  EXPECT_THAT(
      capture_.Bodies(),
      ElementsAre(::testing::_, LauncherLine(73, "Invalid resource for 302, size: 0", "ERROR")));
}

TEST_F(PayloadExtractionTest, MissingResourceReportsTheLookupError) {
  ASSERT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(999), L"BINARY"), nullptr);
  const DWORD error = GetLastError();
  base::ScopedHandle hold;
  EXPECT_FALSE(ExtractResourceToFile(999, Destination(), hold));
  EXPECT_THAT(
      capture_.Bodies(),
      ElementsAre(::testing::_,
                  LauncherLine(59, "FindResource failed for 999, error: " + std::to_string(error),
                               "ERROR")));
}

TEST_F(PayloadExtractionTest, UnwritableDestinationReportsTheOpenError) {
  WriteBytes(Destination().Text(), "held");
  base::ScopedHandle holder(CreateFileW(Destination().Text().c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.IsValid());
  base::ScopedHandle hold;
  EXPECT_FALSE(ExtractResourceToFile(301, Destination(), hold));
  EXPECT_THAT(
      capture_.Bodies().back(),
      LauncherLine(85, "WriteFile failed for " + Destination().ToUtf8() + ", error: 32", "ERROR"));
}

TEST_F(PayloadExtractionTest, WorkDirectoryIsNamedAfterTheProcessAndTheTicks) {
  ScopedEnvironmentVariable tmp(L"TMP", dir_.Wide() + L"\\");
  const DWORD before = GetTickCount();
  base::ScopedHandle hold;
  const base::PathValue work = CreateWorkDirectory(hold);
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
  EXPECT_THAT(capture_.Bodies(),
              ElementsAre(LauncherLine(195, "Temp directory created: " + work.ToUtf8())));
  // Held: it cannot be renamed away and replaced by another.
  EXPECT_FALSE(MoveFileW(work.Text().c_str(), dir_.Wide(L"elsewhere").c_str()));
  hold.Close();
  EXPECT_TRUE(RemoveDirectoryW(work.Text().c_str()));
}

// The DACL of `descriptor` in SDDL, with the user's SID written as "USER".
std::wstring DaclText(PSECURITY_DESCRIPTOR descriptor) {
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"<none>";
  }
  base::ScopedLocalMemory owner(text);
  BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  base::ScopedHandle token;
  DWORD size = 0;
  wchar_t* user_text = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()) ||
      !GetTokenInformation(token.Get(), TokenUser, user, sizeof(user), &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &user_text)) {
    return L"<no user>";
  }
  base::ScopedLocalMemory user_owner(user_text);
  std::wstring dacl = text;
  for (size_t at; (at = dacl.find(user_text)) != std::wstring::npos;)
    dacl.replace(at, wcslen(user_text), L"USER");
  return dacl;
}

// The work directory's access list is its own: protected from what %TEMP%
// would pass on, for the user, SYSTEM and the Administrators only, and
// passed on to the payloads. Wine keeps no access list of a file (it answers
// one made from the Unix mode bits, never protected), so what is read back
// is compared everywhere but under Wine.
TEST_F(PayloadExtractionTest, WorkDirectoryHasAnAccessListOfItsOwn) {
  const std::wstring expected = L"D:P(A;OICI;FA;;;USER)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  base::PrivateDirectorySecurity security;
  ASSERT_TRUE(security.Build());
  EXPECT_EQ(DaclText(security.descriptor()), expected);

  ScopedEnvironmentVariable tmp(L"TMP", dir_.Wide());
  base::ScopedHandle hold;
  ASSERT_FALSE(CreateWorkDirectory(hold).empty());
  PSECURITY_DESCRIPTOR read_back = nullptr;
  ASSERT_EQ(GetSecurityInfo(hold.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &read_back),
            static_cast<DWORD>(ERROR_SUCCESS));
  base::ScopedLocalMemory owner(read_back);
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
  if (!wine) {
    EXPECT_EQ(DaclText(read_back), expected);
  }
}

// Calls CreateWorkDirectory at a tick count whose name,
// "MirSetup_<this process>_<tick>", `take` has taken already: names are
// taken for a window of tick counts a little ahead, and the call is made
// inside it (again, further ahead, if the machine was too slow).
// `logged`: the lines the call that landed inside wrote.
base::PathValue CreateWorkDirectoryWithItsNameTaken(const std::filesystem::path& temp,
                                                    void (*take)(const std::filesystem::path&),
                                                    base::ScopedHandle& hold, DWORD& error,
                                                    const ScopedLogCapture& capture,
                                                    size_t& logged) {
  constexpr DWORD kWindow = 400;
  DWORD lead = 500;
  const std::string prefix = "MirSetup_" + std::to_string(GetCurrentProcessId()) + "_";
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD taking = GetTickCount();
    const DWORD start = taking + lead;
    for (DWORD tick = start; tick < start + kWindow; ++tick) {
      take(temp / (prefix + std::to_string(tick)));
    }
    // Taking the names took longer than the lead: next time, start further ahead.
    if (GetTickCount() >= start) {
      lead = 2 * (GetTickCount() - taking);
      continue;
    }
    while (GetTickCount() < start + 10) Sleep(1);
    const DWORD before = GetTickCount();
    const size_t lines_before = capture.lines().size();
    const base::PathValue work = CreateWorkDirectory(hold);
    error = GetLastError();
    logged = capture.lines().size() - lines_before;
    if (before >= start && GetTickCount() < start + kWindow) return work;
    hold.Close();
    if (!work.empty()) RemoveDirectoryW(work.Text().c_str());
  }
  ADD_FAILURE() << "no call landed inside a window of taken names";
  return base::PathValue();
}

TEST_F(PayloadExtractionTest, WorkDirectoryNameTakenAlreadyIsRefused) {
  const struct {
    const char* name;
    void (*take)(const std::filesystem::path&);
  } cases[] = {
      {"by a directory holding a DLL",
       [](const std::filesystem::path& name) {
         std::filesystem::create_directory(name);
         WriteBytes(name / "version.dll", "planted");
       }},
      {"by a file", [](const std::filesystem::path& name) { WriteBytes(name, "x"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTempDir temp;
    ScopedEnvironmentVariable tmp(L"TMP", temp.Wide());
    base::ScopedHandle hold;
    DWORD error = 0;
    size_t logged = 0;
    EXPECT_TRUE(
        CreateWorkDirectoryWithItsNameTaken(temp.path(), c.take, hold, error, capture_, logged)
            .empty());
    EXPECT_FALSE(hold.IsValid());
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(logged, 0u);
  }
}

TEST_F(PayloadExtractionTest, WorkDirectoryFailures) {
  WriteBytes(dir_.path() / "file", "x");
  {
    ScopedEnvironmentVariable tmp(L"TMP",
                                  dir_.Wide(L"file"));  // a file where the directory should go
    base::ScopedHandle hold;
    EXPECT_TRUE(CreateWorkDirectory(hold).empty());
  }
  {
    ScopedEnvironmentVariable tmp(L"TMP", L"C:\\" + std::wstring(300, 'x'));
    base::ScopedHandle hold;
    EXPECT_TRUE(CreateWorkDirectory(hold).empty());
  }
  EXPECT_TRUE(capture_.lines().empty());
}

}  // namespace
}  // namespace setup_launcher
