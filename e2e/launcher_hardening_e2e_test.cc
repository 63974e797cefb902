// What nobody beside the launcher can make it do: load a DLL from its own
// folder, start a program swapped in for its installer, or report a run as a
// success when it lost track of the child.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <forward_list>
#include <functional>
#include <optional>

#include "e2e/launcher_fixture.h"
#include "testing/file_checksum.h"
#include "testing/symbolic_link_win.h"

namespace e2e {
namespace {

using test_support::ScopedSymbolicLink;
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
  // A manifest beside a program without one of its own makes Windows load
  // the DLLs it lists as the application's files from the program's folder.
  std::string files;
  for (const char* name : {"shcore.dll", "shell32.dll", "uxtheme.dll", "windows.storage.dll",
                           "api-ms-win-downlevel-shell32-l1-1-0.dll"}) {
    files += std::string("<file name=\"") + name + "\"/>";
  }
  WriteBytes(downloads / "mir_setup_launcher.exe.manifest",
             "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
             "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">" +
                 files + "</assembly>");
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

// What another process of the same user may have prepared, or does while the
// guide runs, and what the launcher must not let it achieve. Each row is one
// run of the launcher.
TEST_F(LauncherTest, HostileSurroundingsGainNothing) {
  const std::string probe = ReadBytes(SiblingProgram(L"payload_probe.exe"));
  const std::filesystem::path impostor = root_.path() / "impostor.exe";
  WriteBytes(impostor, probe + "an impostor's own bytes");
  const std::filesystem::path victim = root_.path() / "victim.txt";
  const std::wstring pipe_name = L"\\\\.\\pipe\\mir_e2e_" + std::to_wstring(GetCurrentProcessId());
  base::ScopedHandle pipe;
  BOOL replaced = TRUE;
  bool opened_for_writing = true;

  const std::string refused = LauncherLine(
      258,
      "[InstallAttribution] Attribution source refused, not a file on a local drive: ", "WARNING");
  const std::string through_link = LauncherLine(
      259, "[InstallAttribution] Attribution source refused, reached through a link: ", "WARNING");
  // What the system opens for "\\127.0.0.1\share\source.bin" (under Wine a
  // folder of the prefix), holding a record the launcher must never store.
  const std::wstring remote_source = L"\\\\127.0.0.1\\share\\source.bin";
  std::forward_list<ScopedSymbolicLink> links;
  const std::filesystem::path file_link = root_.path() / "source_link.bin";
  const std::filesystem::path folder_link = root_.path() / "share_link";
  const auto WriteRemoteSource = [&] {
    base::ScopedHandle file(CreateFileW(remote_source.c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string record = "CHANNEL_INFO:src=remote:CHANNEL_INFO";
    DWORD written = 0;
    if (file.IsValid()) WriteFile(file.Get(), record.data(), record.size(), &written, nullptr);
  };
  const struct {
    const char* name;
    std::wstring arguments;
    EnvironmentOverrides environment;
    std::function<void()> prepare;
    std::function<void(const std::wstring& installer)> while_guide_runs;  // none: not waited for
    std::function<void(const LauncherRun&)> check;
  } rows[] = {
      {"the installer is replaced while the guide runs, which starts it",
       L"",
       {{L"MIR_PROBE_SLEEP_MS", L"1000"}, {L"MIR_PROBE_RUN", L"mir_installer_win_temp.exe"}},
       [] {},
       [&](const std::wstring& installer) {
         const std::filesystem::path attempt = root_.path() / "attempt.exe";
         CopyFileW(impostor.c_str(), attempt.c_str(), FALSE);
         replaced = MoveFileExW(attempt.c_str(), installer.c_str(), MOVEFILE_REPLACE_EXISTING);
         base::ScopedHandle writer(
             CreateFileW(installer.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr));
         opened_for_writing = writer.IsValid();
       },
       [&](const LauncherRun& run) {
         EXPECT_FALSE(replaced);
         EXPECT_FALSE(opened_for_writing);
         EXPECT_EQ(run.report.count("run_error") ? run.report.at("run_error") : "", "");
         EXPECT_EQ(run.report.count("run_exit_code") ? run.report.at("run_exit_code") : "", "7");
         EXPECT_THAT(run.log, Contains(LauncherLine(292, "Temp directory deleted successfully")));
       }},
      {"the log's name is a directory and a hard link waits where it falls back to",
       L"--silent",
       {},
       [&] {
         std::filesystem::remove(log_file());  // an earlier row's
         std::filesystem::create_directory(log_file());
         WriteBytes(victim, "not the launcher's");
         ASSERT_TRUE(CreateHardLinkW((cwd() / "debug.log").c_str(), victim.c_str(), nullptr));
       },
       nullptr,
       [&](const LauncherRun& run) {
         EXPECT_EQ(ReadBytes(victim), "not the launcher's");
         EXPECT_EQ(run.report.count("file_size"), 1u);  // the run went on without a log
         std::filesystem::remove(cwd() / "debug.log");
         std::filesystem::remove(log_file());
       }},
      {"the attribution source is a pipe",
       L"--silent --mir-attribution-source=" + pipe_name,
       {},
       [&] {
         pipe.Reset(CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 4096, 4096, 0, nullptr));
         ASSERT_TRUE(pipe.IsValid()) << GetLastError();
       },
       nullptr,
       [&](const LauncherRun& run) {
         EXPECT_THAT(run.log, Contains(refused + strings::WideToUtf8(pipe_name)));
         // Nobody ever connected: the server still listens.
         EXPECT_FALSE(ConnectNamedPipe(pipe.Get(), nullptr));
         EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_LISTENING));
       }},
      {"the attribution source is on another machine",
       L"--silent --mir-attribution-source=\\\\127.0.0.1\\share\\source.bin",
       {},
       [] {},
       nullptr,
       [&](const LauncherRun& run) {
         EXPECT_THAT(run.log, Contains(refused + "\\\\127.0.0.1\\share\\source.bin"));
       }},
      {"the attribution source is a link on a local drive to a file on another machine",
       L"--silent --mir-attribution-source=" + file_link.wstring(),
       {},
       [&] {
         links.emplace_front(file_link.wstring(), remote_source, false);
         ASSERT_TRUE(links.front().made());
         WriteRemoteSource();
       },
       nullptr,
       [&](const LauncherRun& run) {
         EXPECT_THAT(run.log, Contains(through_link + strings::WideToUtf8(file_link.wstring())));
         EXPECT_EQ(StoredAttribution(), "<none>");
       }},
      {"the attribution source lies in a folder that links to another machine",
       L"--silent --mir-attribution-source=" + (folder_link / "source.bin").wstring(),
       {},
       [&] {
         links.emplace_front(folder_link.wstring(), L"\\\\127.0.0.1\\share", true);
         ASSERT_TRUE(links.front().made());
         WriteRemoteSource();
       },
       nullptr,
       [&](const LauncherRun& run) {
         EXPECT_THAT(
             run.log,
             Contains(through_link + strings::WideToUtf8((folder_link / "source.bin").wstring())));
         EXPECT_EQ(StoredAttribution(), "<none>");
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    row.prepare();
    LauncherRun run;
    if (row.while_guide_runs) {
      base::ScopedHandle process =
          Start(SiblingProgram(L"e2e_launcher.exe"), row.arguments, row.environment);
      ASSERT_TRUE(process.IsValid());
      const std::string launched = LauncherLine(285, "Process launched with PID: ");
      ASSERT_TRUE(WaitForLogLine(process.Get(), log_file(), launched).has_value());
      const std::string work = LauncherLine(195, "Temp directory created: ");
      const std::optional<std::string> line = WaitForLogLine(process.Get(), log_file(), work);
      ASSERT_TRUE(line.has_value());
      row.while_guide_runs(strings::Utf8ToWide(line->substr(work.size())) +
                           L"\\mir_installer_win_temp.exe");
      run = Collect(WaitWatchingBoxes(process.Get(), kCaption, 60000));
    } else {
      run = Run(row.arguments, row.environment);
    }
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(run.boxes.empty());
    row.check(run);
  }
  links.clear();
  DeleteFileW(remote_source.c_str());
  RemoveDirectoryW(L"\\\\127.0.0.1\\share");
}

}  // namespace
}  // namespace e2e
