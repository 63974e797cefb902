// What nobody beside the launcher can make it do: load a DLL from its own
// folder, start a program swapped in for its installer, or report a run as a
// success when it lost track of the child.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "e2e/launcher_fixture.h"
#include "testing/file_checksum.h"

namespace e2e {
namespace {

using test_support::WriteBytes;

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// The DLLs the launcher imports or loads, and others that programs are known
// to load by accident from their own folder.
constexpr const wchar_t* kPlantedNames[] = {
    // imported
    L"kernel32.dll", L"user32.dll", L"advapi32.dll", L"msvcrt.dll",
    // loaded on the paths that need them
    L"shell32.dll", L"shcore.dll", L"api-ms-win-downlevel-shell32-l1-1-0.dll", L"userenv.dll",
    // loaded by system DLLs on behalf of a program (message boxes, shell, crypto, ...)
    L"version.dll", L"dwmapi.dll", L"uxtheme.dll", L"comctl32.dll", L"cryptbase.dll",
    L"cryptsp.dll", L"rsaenh.dll", L"bcrypt.dll", L"profapi.dll", L"propsys.dll", L"secur32.dll",
    L"sspicli.dll", L"winmm.dll", L"apphelp.dll", L"ntmarta.dll", L"dbghelp.dll", L"wininet.dll",
    L"winhttp.dll", L"urlmon.dll", L"iertutil.dll", L"netapi32.dll", L"wtsapi32.dll", L"mpr.dll",
    L"msi.dll", L"cabinet.dll", L"textshaping.dll", L"windowscodecs.dll", L"oleacc.dll",
    L"edputil.dll", L"dwrite.dll", L"msimg32.dll", L"gdiplus.dll", L"imm32.dll", L"kernelbase.dll",
    L"windows.storage.dll"};

// Each planted DLL writes "<its path>.loaded" when a process loads it.
std::vector<std::string> LoadedMarkers(const std::filesystem::path& folder) {
  std::vector<std::string> loaded;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".loaded") loaded.push_back(entry.path().filename().string());
  }
  return loaded;
}

TEST_F(LauncherTest, DllsBesideTheLauncherAreNeverLoaded) {
  const std::filesystem::path downloads = root_.path() / "Downloads";
  std::filesystem::create_directories(downloads);
  const std::filesystem::path launcher = downloads / "mir_setup_launcher.exe";
  std::filesystem::copy_file(SiblingProgram(L"e2e_launcher.exe"), launcher);
  for (const wchar_t* name : kPlantedNames) {
    std::filesystem::copy_file(SiblingProgram(L"planted.dll"), downloads / name);
  }
  const std::wstring too_long = L"C:\\" + std::wstring(329, L'x');
  const struct {
    const char* name;
    std::wstring arguments;
    EnvironmentOverrides environment;
    DWORD exit_code;
    size_t boxes;
  } runs[] = {
      {"interactive first install", L"", {}, 0, 0},
      {"silent install", L"--silent", {}, 0, 0},
      {"a failure with a box", L"", {{L"TMP", too_long}, {L"TEMP", too_long}}, 1, 1},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.name);
    const LauncherRun result = Run(launcher.wstring(), run.arguments, run.environment);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, run.exit_code);
    EXPECT_EQ(result.boxes.size(), run.boxes);
    EXPECT_THAT(LoadedMarkers(downloads), ::testing::IsEmpty());
  }
}

// The load configuration tells Windows to take the DLLs that system DLLs
// load on the launcher's behalf from System32 as well.
TEST(LauncherFileTest, AsksForDependentDllsFromSystem32) {
  for (const wchar_t* name : {L"mir_setup_launcher.exe", L"e2e_launcher.exe"}) {
    SCOPED_TRACE(strings::WideToUtf8(name));
    const HMODULE mapped =
        LoadLibraryExW(SiblingProgram(name).c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(mapped, nullptr) << GetLastError();
    // The handle of a module mapped as a resource has its low bits set.
    const auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<uintptr_t>(mapped) & ~3);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
    ASSERT_GE(entry.Size, 0x50u);
    constexpr size_t kDependentLoadFlags = 0x4E;
    WORD flags = 0;
    memcpy(&flags, base + entry.VirtualAddress + kDependentLoadFlags, sizeof(flags));
    EXPECT_EQ(flags, LOAD_LIBRARY_SEARCH_SYSTEM32);
    DWORD size = 0;
    memcpy(&size, base + entry.VirtualAddress, sizeof(size));
    EXPECT_EQ(size, entry.Size);
    FreeLibrary(mapped);
  }
}

// The body of the first log line whose body starts with `start`, once the
// running launcher has written it; nothing when `process` ends first.
std::optional<std::string> WaitForLogLine(HANDLE process, const std::filesystem::path& log,
                                          const std::string& start) {
  while (true) {
    for (const std::string& line : ScopedLogCapture::FileBodies(ReadBytes(log))) {
      if (line.rfind(start, 0) == 0) return line;
    }
    if (WaitForSingleObject(process, 1) == WAIT_OBJECT_0) return std::nullopt;
  }
}

// Between writing the installer and starting it, the launcher reads a named
// attribution source of 64 MiB whole: a long moment in which a process of
// the same user tries again and again to put its own program in place.
TEST_F(LauncherTest, InstallerCannotBeSwappedBeforeItIsStarted) {
  const std::filesystem::path source = root_.path() / "source.bin";
  {
    std::ofstream out(source, std::ios::binary);
    out.seekp(67108864 - 3);
    out << "XYZ";
  }
  const std::string probe = ReadBytes(SiblingProgram(L"payload_probe.exe"));
  const std::filesystem::path impostor = root_.path() / "impostor.exe";
  WriteBytes(impostor, probe + "an impostor's own bytes");

  base::ScopedHandle process = Start(SiblingProgram(L"e2e_launcher.exe"),
                                     L"--silent --mir-attribution-source=" + source.wstring());
  ASSERT_TRUE(process.IsValid());
  const std::optional<std::string> path_line =
      WaitForLogLine(process.Get(), log_file(), LauncherLine(201, "Real exe path: "));
  ASSERT_TRUE(path_line.has_value());
  const std::wstring installer =
      strings::Utf8ToWide(path_line->substr(LauncherLine(201, "Real exe path: ").size()));
  ASSERT_TRUE(WaitForLogLine(process.Get(), log_file(),
                             LauncherLine(225, "Real installer exe extracted successfully")));
  // Until the launcher ends: once the installer has ended, its file may go;
  // before it started, nothing may take its place.
  int attempts = 0;
  const std::filesystem::path attempt = root_.path() / "attempt.exe";
  while (WaitForSingleObject(process.Get(), 0) != WAIT_OBJECT_0) {
    ++attempts;
    CopyFileW(impostor.c_str(), attempt.c_str(), FALSE);
    MoveFileExW(attempt.c_str(), installer.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  DWORD exit_code = 1;
  GetExitCodeProcess(process.Get(), &exit_code);
  const LauncherRun run = Collect({true, exit_code, {}});
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_GT(attempts, 1);
  // What ran was the launcher's own installer, not the impostor.
  ASSERT_TRUE(run.report.count("file_size"));
  EXPECT_EQ(run.report.at("file_size"), std::to_string(probe.size()));
}

// Handles of `process`, copied into this process, that refer to the process
// `target_id`: the launcher's own handle to its child.
std::vector<HANDLE> HandlesToProcess(HANDLE process, DWORD target_id) {
  std::vector<HANDLE> found;
  for (uintptr_t value = 4; value < 0x4000; value += 4) {
    base::ScopedHandle copy;
    if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(),
                        copy.Receive(), 0, FALSE, DUPLICATE_SAME_ACCESS) &&
        GetProcessId(copy.Get()) == target_id) {
      found.push_back(reinterpret_cast<HANDLE>(value));
    }
  }
  return found;
}

// A wait that fails leaves the launcher not knowing whether the child has
// ended: it must neither report success nor delete what the child may use.
// The failure is provoked by closing the launcher's handle to its child from
// outside while it waits.
TEST_F(LauncherTest, FailedWaitIsAFailureAndKeepsTheWorkDirectory) {
  base::ScopedHandle process =
      Start(SiblingProgram(L"e2e_launcher.exe"), L"--silent", {{L"MIR_PROBE_SLEEP_MS", L"3000"}});
  ASSERT_TRUE(process.IsValid());
  const std::string launched = LauncherLine(285, "Process launched with PID: ");
  const std::optional<std::string> line = WaitForLogLine(process.Get(), log_file(), launched);
  ASSERT_TRUE(line.has_value());
  const DWORD child_id = static_cast<DWORD>(std::stoul(line->substr(launched.size())));
  base::ScopedHandle launcher(OpenProcess(PROCESS_DUP_HANDLE, FALSE, GetProcessId(process.Get())));
  ASSERT_TRUE(launcher.IsValid());
  const std::vector<HANDLE> handles = HandlesToProcess(launcher.Get(), child_id);
  ASSERT_EQ(handles.size(), 1u);
  base::ScopedHandle moved;  // taken out of the launcher, closed here
  ASSERT_TRUE(DuplicateHandle(launcher.Get(), handles[0], GetCurrentProcess(), moved.Receive(), 0,
                              FALSE, DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE));

  const LauncherRun run = Collect(WaitWatchingBoxes(process.Get(), kCaption, 60000));
  EXPECT_EQ(run.exit_code, 1u);
  EXPECT_THAT(run.log, Contains(LauncherLine(287,
                                             "Failed to wait for process, GetLastError: " +
                                                 std::to_string(ERROR_INVALID_HANDLE),
                                             "ERROR")));
  EXPECT_THAT(run.log, Not(Contains(HasSubstr("Process completed with exit code"))));
  EXPECT_THAT(run.log, Not(Contains(HasSubstr("Cleaning up temp directory"))));
  EXPECT_THAT(run.log, Contains(LauncherLine(335, "Setup Launcher Completed with exit code: 1")));
  ASSERT_FALSE(run.work_directory.empty());
  EXPECT_TRUE(std::filesystem::exists(run.work_directory));
  Sleep(3500);  // let the child end before the directory is removed
}

}  // namespace
}  // namespace e2e
