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

// Whether a protected DACL given to a new directory is what the system
// answers for it afterwards.
bool SystemKeepsAccessLists(const ScopedTempDir& dir) {
  PSECURITY_DESCRIPTOR given = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)", SDDL_REVISION_1,
                                                            &given, nullptr)) {
    return false;
  }
  base::ScopedLocalMemory given_owner(given);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), given, FALSE};
  const std::wstring probe = dir.Wide(L"acl_probe");
  if (!CreateDirectoryW(probe.c_str(), &attributes)) return false;
  PSECURITY_DESCRIPTOR answered = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  const bool kept =
      GetNamedSecurityInfoW(probe.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &answered) == ERROR_SUCCESS &&
      GetSecurityDescriptorControl(answered, &control, &revision) && (control & SE_DACL_PROTECTED);
  LocalFree(answered);
  RemoveDirectoryW(probe.c_str());
  return kept;
}

// Whether `descriptor` has a protected DACL granting full access to exactly
// the user, SYSTEM and the Administrators, inherited by what is made inside.
void ExpectPrivateDacl(PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  BYTE token_user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  base::ScopedHandle token;
  DWORD size = 0;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()));
  ASSERT_TRUE(GetTokenInformation(token.Get(), TokenUser, token_user, sizeof(token_user), &size));
  BYTE system[SECURITY_MAX_SID_SIZE], administrators[SECURITY_MAX_SID_SIZE];
  DWORD system_size = sizeof(system), administrators_size = sizeof(administrators);
  CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &system_size);
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administrators_size);
  const PSID expected[] = {reinterpret_cast<TOKEN_USER*>(token_user)->User.Sid, system,
                           administrators};
  ASSERT_EQ(dacl->AceCount, 3u);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    SCOPED_TRACE(i);
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);  // not inherited
    EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
    EXPECT_TRUE(EqualSid(&ace->SidStart, expected[i]));
  }
}

// The work directory's access list is its own: protected from what %TEMP%
// would pass on. Wine keeps no access list of a file (it answers one made
// from the Unix mode, never protected), so the list read back is compared
// where the system keeps one; the one the directory is made with, always.
TEST_F(PayloadExtractionTest, WorkDirectoryHasAnAccessListOfItsOwn) {
  base::PrivateDirectorySecurity security;
  ASSERT_TRUE(security.Build());
  ExpectPrivateDacl(security.descriptor());

  ScopedEnvironmentVariable tmp(L"TMP", dir_.Wide());
  base::ScopedHandle hold;
  const base::PathValue work = CreateWorkDirectory(hold);
  ASSERT_FALSE(work.empty());
  PSECURITY_DESCRIPTOR read_back = nullptr;
  ASSERT_EQ(GetSecurityInfo(hold.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &read_back),
            static_cast<DWORD>(ERROR_SUCCESS));
  base::ScopedLocalMemory owner(read_back);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(read_back, &control, &revision));
  if (SystemKeepsAccessLists(dir_)) ExpectPrivateDacl(read_back);
}

// Calls CreateWorkDirectory at a tick count whose name,
// "MirSetup_<this process>_<tick>", `take` has taken already: names are
// taken for a window of tick counts a little ahead, and the call is made
// inside it (again, with a later window, if the machine was too slow).
base::PathValue CreateWorkDirectoryWithItsNameTaken(const std::filesystem::path& temp,
                                                    void (*take)(const std::filesystem::path&),
                                                    base::ScopedHandle& hold, DWORD& error) {
  constexpr DWORD kLead = 500;
  constexpr DWORD kWindow = 400;
  const std::string prefix = "MirSetup_" + std::to_string(GetCurrentProcessId()) + "_";
  for (int attempt = 0; attempt < 5; ++attempt) {
    const DWORD start = GetTickCount() + kLead;
    for (DWORD tick = start; tick < start + kWindow; ++tick) {
      take(temp / (prefix + std::to_string(tick)));
    }
    while (GetTickCount() < start + 10) Sleep(1);
    const DWORD before = GetTickCount();
    const base::PathValue work = CreateWorkDirectory(hold);
    error = GetLastError();
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
    EXPECT_TRUE(CreateWorkDirectoryWithItsNameTaken(temp.path(), c.take, hold, error).empty());
    EXPECT_FALSE(hold.IsValid());
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  }
  EXPECT_TRUE(capture_.lines().empty());
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
