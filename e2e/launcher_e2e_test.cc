// The launcher as users run it: a separate process with its own temporary
// directory, checked through its log file, the registry, the work directory,
// the payload probe's report, its boxes and its exit code.
#include "e2e/launcher_fixture.h"
#include "testing/file_checksum.h"

namespace e2e {
namespace {

using test_support::AttributionLine;
using test_support::ChecksumFile;
using test_support::DismissBoxOnce;
using test_support::FileChecksum;
using test_support::WriteBytes;

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(LauncherTest, InteractiveFirstInstall) {
  LauncherRun run = Run(L"");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(run.boxes.empty());
  ASSERT_FALSE(run.work_directory.empty());
  const std::string work = strings::WideToUtf8(run.work_directory);
  EXPECT_EQ(std::filesystem::path(run.work_directory).parent_path(), tmp());
  EXPECT_THAT(strings::WideToUtf8(std::filesystem::path(run.work_directory).filename().wstring()),
              ::testing::MatchesRegex("MirSetup_\\d+_\\d+"));
  const std::string guide = work + "\\MIR_SETUP_GUIDE_EXE_NAME";
  const std::string installer = work + "\\mir_installer_win_temp.exe";
  const std::string probe_key =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelo "
      "Browser";
  ExpectLog(
      run.log,
      Concat({{LauncherLine(329, kBanner), LauncherLine(330, "Setup Launcher Starting"),
               LauncherLine(331, kBanner), LauncherLine(152, "RunLauncher starting..."),
               LauncherLine(164, "Silent mode: false"),
               LauncherLine(174, "About to call IsAlreadyInstalled()..."),
               LauncherLine(112, "[IsAlreadyInstalled] START"),
               LauncherLine(115, "[IsAlreadyInstalled] Product: Mirelo Browser"),
               LauncherLine(123, "[IsAlreadyInstalled] Registry key path: " + probe_key),
               LauncherLine(126, "[IsAlreadyInstalled] Opening registry key..."),
               LauncherLine(129,
                            "[IsAlreadyInstalled] Registry key not found (first install), "
                            "returning false"),
               LauncherLine(176, "IsAlreadyInstalled() returned: false"),
               LauncherLine(183, "After installation check, silent mode is now: false"),
               LauncherLine(184, "User initiated upgrade: false"),
               LauncherLine(195, "Temp directory created: " + work),
               LauncherLine(200, "Guide exe path: " + guide),
               LauncherLine(201, "Real exe path: " + installer)},
              Extraction(work, 201, "MIR_SETUP_GUIDE_EXE_NAME", ProbeSize()),
              {LauncherLine(213, "Guide exe extracted successfully")},
              Extraction(work, 202, "mir_installer_win_temp.exe", ProbeSize()),
              {LauncherLine(225, "Real installer exe extracted successfully"),
               LauncherLine(233, "Running setup guide"),
               AttributionLine(360,
                               "PE Security directory empty: cert_rva=0 cert_size=0 "
                               "(unsigned exe or header cleared by repack tool)",
                               "WARNING"),
               AttributionLine(479, "No CHANNEL_INFO after PE-buffer attempts; cert_rva=0*"),
               LauncherLine(264, "[InstallAttribution] No attribution data found in self exe"),
               LauncherLine(266, "Launch command: \"" + guide + "\""),
               LauncherLine(272, "Launching process..."),
               LauncherLine(285, "Process launched with PID: *"),
               LauncherLine(288, "Process completed with exit code: 0"),
               LauncherLine(290, "Cleaning up temp directory..."),
               LauncherLine(292, "Temp directory deleted successfully"),
               LauncherLine(335, "Setup Launcher Completed with exit code: 0"),
               LauncherLine(336, kBanner)}}));
  // The guide ran, whole, in the work directory, with a normal window.
  EXPECT_EQ(run.report.at("command_line"), "\"" + guide + "\"");
  EXPECT_EQ(run.report.at("current_directory"), work);
  EXPECT_EQ(run.report.at("startf_useshowwindow"), "1");
  EXPECT_EQ(run.report.at("show_window"), "1");
  FileChecksum expected;
  ASSERT_TRUE(ChecksumFile(SiblingProgram(L"payload_probe.exe").c_str(), expected));
  EXPECT_EQ(run.report.at("file_size"), std::to_string(expected.size));
  EXPECT_EQ(run.report.at("file_checksum"), std::to_string(expected.hash));
  EXPECT_FALSE(std::filesystem::exists(run.work_directory));
  EXPECT_EQ(StoredAttribution(), "<none>");
}

TEST_F(LauncherTest, SilentSwitchInEverySpelling) {
  Install(L"C:\\Mirelo");  // "silent" skips the probe: installed or not, no upgrade
  for (const wchar_t* spelling : {L"--silent", L"-SILENT", L"/silent=0"}) {
    SCOPED_TRACE(strings::WideToUtf8(spelling));
    LauncherRun run = Run(spelling);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_THAT(run.log, Contains(LauncherLine(164, "Silent mode: true")));
    EXPECT_THAT(run.log, Not(Contains(HasSubstr("IsAlreadyInstalled"))));
    EXPECT_THAT(run.log, Contains(LauncherLine(184, "User initiated upgrade: false")));
    EXPECT_THAT(run.log, Contains(LauncherLine(230, "Running real installer with --silent")));
    const std::string installer =
        strings::WideToUtf8(run.work_directory) + "\\mir_installer_win_temp.exe";
    EXPECT_EQ(run.report["command_line"], "\"" + installer + "\" --silent");
    EXPECT_EQ(run.report["show_window"], "0");
    EXPECT_EQ(run.report["startf_useshowwindow"], "1");
  }
}

TEST_F(LauncherTest, InstalledBrowserGetsASilentUpgrade) {
  Install(L"C:\\Users\\Someone\\AppData\\Local\\Mirelo Browser\\Application");
  LauncherRun run = Run(L"");
  EXPECT_EQ(run.exit_code, 0u);
  const std::string installer =
      strings::WideToUtf8(run.work_directory) + "\\mir_installer_win_temp.exe";
  EXPECT_EQ(run.report["command_line"], "\"" + installer + "\" --silent --launch-after-install");
  EXPECT_EQ(run.report["show_window"], "0");
  for (const std::string& line :
       {LauncherLine(176, "IsAlreadyInstalled() returned: true"),
        LauncherLine(178,
                     "Existing installation detected, running silent upgrade (user-initiated)"),
        LauncherLine(183, "After installation check, silent mode is now: true"),
        LauncherLine(184, "User initiated upgrade: true"),
        LauncherLine(244, "Appended --launch-after-install for user-initiated upgrade")}) {
    EXPECT_THAT(run.log, Contains(line));
  }
}

TEST_F(LauncherTest, SilentFromTheConfigurationFileOnly) {
  config_.Write("\r\n  --silent  \r\n");
  LauncherRun run = Run(L"");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_THAT(run.log, Contains(LauncherLine(164, "Silent mode: true")));
  EXPECT_THAT(run.report["command_line"], ::testing::EndsWith("\" --silent"));
}

TEST_F(LauncherTest, OversizedConfigurationIsIgnoredWithAWarning) {
  config_.Write("--silent" + std::string(64 << 20, ' '));
  LauncherRun run = Run(L"");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_THAT(run.log, Contains(LauncherLine(164, "Silent mode: false")));
  EXPECT_THAT(run.log, Contains(::testing::StartsWith(
                           "WARNING:command_line/process_command_line:40] [ProcessCommandLine] "
                           "Ignoring ")));
}

// Logging is set up before the command line exists, so "v" and "vmodule"
// never reach it, wherever they come from: -1 would hide every INFO line.
TEST_F(LauncherTest, VerboseSwitchesDoNotChangeTheLog) {
  config_.Write("--v=-1 --vmodule=*=-1");
  LauncherRun run = Run(L"--silent --v=-1");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_THAT(run.log, Contains(LauncherLine(330, "Setup Launcher Starting")));
  EXPECT_THAT(run.log, Contains(LauncherLine(335, "Setup Launcher Completed with exit code: 0")));
}

TEST_F(LauncherTest, ChildExitCodeIsTheLaunchersUnchanged) {
  LauncherRun run = Run(L"", {{L"MIR_PROBE_EXIT_CODE", L"0xC0000005"}});
  EXPECT_EQ(run.exit_code, 0xC0000005u);
  EXPECT_THAT(run.log,
              Contains(LauncherLine(288, "Process completed with exit code: -1073741819")));
  EXPECT_THAT(run.log,
              Contains(LauncherLine(335, "Setup Launcher Completed with exit code: -1073741819")));
}

TEST_F(LauncherTest, AttributionFromANamedSource) {
  WriteBytes(root_.path() / "source.exe", "MZ...CHANNEL_INFO:src=named:CHANNEL_INFO...");
  LauncherRun run =
      Run(L"--mir-attribution-source=\"" + (root_.path() / "source.exe").wstring() + L"\"");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(StoredAttribution(), "src=named");
  EXPECT_THAT(run.log, Contains(AttributionLine(545,
                                                "CHANNEL_INFO from file tail window (43 bytes, "
                                                "same idea as 4f51b96/8656c3c2)")));
  EXPECT_THAT(run.log,
              Contains(AttributionLine(633,
                                       "Wrote CHANNEL_INFO to registry; key=HKCU\\Software\\"
                                       "Mirelo Browser\\InstallAttribution value_len=9")));
  EXPECT_THAT(run.log, Contains(LauncherLine(262,
                                             "[InstallAttribution] Attribution written to "
                                             "registry from launcher")));
  // Nothing of it reaches the child.
  EXPECT_EQ(run.report["command_line"],
            "\"" + strings::WideToUtf8(run.work_directory) + "\\MIR_SETUP_GUIDE_EXE_NAME\"");
}

TEST_F(LauncherTest, NamedSourceWithoutARecordFallsBackToTheLauncher) {
  const std::wstring missing = (root_.path() / "missing.exe").wstring();
  LauncherRun run = Run(L"--mir-attribution-source=" + missing);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(StoredAttribution(), "<none>");
  EXPECT_THAT(run.log, Contains(AttributionLine(497, "CreateFileW failed: 2", "ERROR")));
  EXPECT_THAT(run.log, Contains(HasSubstr(":479] [InstallAttribution] No CHANNEL_INFO")));
  EXPECT_THAT(run.log, Contains(LauncherLine(
                           264, "[InstallAttribution] No attribution data found in self exe")));
}

TEST_F(LauncherTest, RecordInTheLaunchersOwnFile) {
  const std::filesystem::path stamped = root_.path() / "stamped_launcher.exe";
  std::filesystem::copy_file(SiblingProgram(L"e2e_launcher.exe"), stamped);
  {
    std::ofstream out(stamped, std::ios::binary | std::ios::app);
    out << "CHANNEL_INFO:src=self&campaign=\xC3\xA9t\xC3\xA9:CHANNEL_INFO";
  }
  LauncherRun run = Run(stamped.wstring(), L"--silent");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(StoredAttribution(), "src=self&campaign=\xC3\xA9t\xC3\xA9");
  EXPECT_THAT(run.log, Contains(HasSubstr(":545] [InstallAttribution] CHANNEL_INFO from file tail "
                                          "window (1048576 bytes")));
}

TEST_F(LauncherTest, UnknownTemporaryDirectoryFailsWithoutALog) {
  const std::wstring too_long = L"C:\\" + std::wstring(329, L'x');
  for (const wchar_t* arguments : {L"", L"--silent"}) {
    SCOPED_TRACE(strings::WideToUtf8(arguments));
    LauncherRun run = Run(arguments, {{L"TMP", too_long}, {L"TEMP", too_long}});
    EXPECT_EQ(run.exit_code, 1u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text,
              L"Setup could not create a temporary folder. Please check disk "
              L"space and permissions.");
    EXPECT_FALSE(std::filesystem::exists(log_file()));
    EXPECT_TRUE(std::filesystem::is_empty(cwd()));  // no fallback log either
    EXPECT_TRUE(run.report.empty());
  }
}

TEST_F(LauncherTest, WorkDirectoryThatCannotBeCreated) {
  WriteBytes(root_.path() / "a_file", "x");
  const std::wstring file = (root_.path() / "a_file").wstring();
  LauncherRun run = Run(L"--silent", {{L"TMP", file}, {L"TEMP", file}});
  EXPECT_EQ(run.exit_code, 1u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text,
            L"Setup could not create a temporary folder. Please check disk "
            L"space and permissions.");
  // The log file could not be opened in the "temporary directory" either, so
  // the lines went to debug.log in the current directory.
  EXPECT_THAT(ScopedLogCapture::FileBodies(ReadBytes(cwd() / "debug.log")),
              Contains(LauncherLine(188, "Failed to create temp dir", "ERROR")));
}

// The box is checked while it blocks, then dismissed.
struct BoxCheck {
  std::vector<BoxInfo> boxes;
  bool work_directory_present_during_box = false;
};

BoxCheck RunWatchingWorkDirectory(HANDLE process, const std::filesystem::path& tmp) {
  BoxCheck check;
  const ULONGLONG deadline = GetTickCount64() + 60000;
  while (GetTickCount64() < deadline && WaitForSingleObject(process, 20) != WAIT_OBJECT_0) {
    HWND box = FindWindowW(L"#32770", kCaption);
    if (!box || !IsWindowVisible(box)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(tmp)) {
      if (entry.is_directory() && entry.path().filename().string().rfind("MirSetup_", 0) == 0) {
        check.work_directory_present_during_box = true;
      }
    }
    if (auto info = DismissBoxOnce(kCaption)) check.boxes.push_back(*info);
  }
  return check;
}

// The error CreateProcessW gives for a file named `name` holding `bytes`,
// found by trying it here.
DWORD StartErrorFor(const std::filesystem::path& directory, const wchar_t* name,
                    std::string_view bytes) {
  const std::filesystem::path file = directory / name;
  WriteBytes(file, bytes);
  std::wstring command = L"\"" + file.wstring() + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &info)) {
    base::ScopedHandle process(info.hProcess), thread(info.hThread);
    TerminateProcess(info.hProcess, 1);
    return 0;
  }
  return GetLastError();
}

TEST_F(LauncherTest, PayloadsThatCannotBeExtractedOrStarted) {
  const std::string not_a_program = "This text is not a Windows program.\n";
  const std::wstring extract_box =
      L"Setup could not extract the installer. Please run the setup again or contact support.";
  const struct {
    const wchar_t* launcher;
    int error_line;
    std::string error_text;
    std::wstring box;
  } cases[] = {
      {L"e2e_launcher_empty_guide.exe", 204, "Failed to extract guide exe", extract_box},
      {L"e2e_launcher_empty_installer.exe", 216, "Failed to extract real installer exe",
       extract_box},
      {L"e2e_launcher_not_a_program.exe", 275, "Failed to launch process, GetLastError: ",
       L"Setup could not start the installer. Please run the setup again or contact support."},
  };
  for (const auto& c : cases) {
    for (bool silent : {false, true}) {
      SCOPED_TRACE(strings::WideToUtf8(c.launcher) + (silent ? " silent" : " interactive"));
      std::string error_text = c.error_text;
      if (c.error_line == 275) {
        // The launch fails with the system's own error for such a file.
        error_text += std::to_string(StartErrorFor(
            root_.path(), silent ? L"mir_installer_win_temp.exe" : L"MIR_SETUP_GUIDE_EXE_NAME",
            not_a_program));
      }
      base::ScopedHandle process = StartChild(
          L"\"" + SiblingProgram(c.launcher) + L"\"" + (silent ? L" --silent" : L""),
          {{L"TMP", tmp().wstring()}, {L"TEMP", tmp().wstring()}}, cwd().wstring().c_str());
      ASSERT_TRUE(process.IsValid()) << GetLastError();
      const BoxCheck check = RunWatchingWorkDirectory(process.Get(), tmp());
      DWORD exit_code = 0;
      GetExitCodeProcess(process.Get(), &exit_code);
      EXPECT_EQ(exit_code, 1u);
      if (silent) {
        EXPECT_TRUE(check.boxes.empty());
      } else {
        ASSERT_EQ(check.boxes.size(), 1u);
        EXPECT_EQ(check.boxes[0].caption, kCaption);
        EXPECT_EQ(check.boxes[0].text, c.box);
        EXPECT_FALSE(check.boxes[0].has_owner);
        EXPECT_TRUE(check.boxes[0].has_icon);
        EXPECT_TRUE(check.boxes[0].has_ok_button);
        EXPECT_FALSE(check.boxes[0].has_cancel_button);
        EXPECT_TRUE(check.work_directory_present_during_box);
      }
      const std::vector<std::string> log = ScopedLogCapture::FileBodies(ReadBytes(log_file()));
      EXPECT_THAT(log, Contains(LauncherLine(c.error_line, error_text, "ERROR")));
      EXPECT_THAT(log, Contains(LauncherLine(335, "Setup Launcher Completed with exit code: 1")));
      if (c.error_line == 204) {
        // Once the guide has failed, the installer is not even tried.
        EXPECT_THAT(log, Not(Contains(HasSubstr("Extracting resource 202"))));
      }
      // Only the log file is left in the temporary directory.
      std::vector<std::filesystem::path> left;
      for (const auto& entry : std::filesystem::directory_iterator(tmp()))
        left.push_back(entry.path().filename());
      EXPECT_EQ(left, std::vector<std::filesystem::path>{"mir_setup_launcher.log"});
    }
  }
}

TEST_F(LauncherTest, LockedWorkDirectoryIsLeftWithAWarning) {
  LauncherRun run = Run(L"", {{L"MIR_PROBE_EXIT_CODE", L"7"},
                              {L"MIR_PROBE_HOLD_FILE", L"held.txt"},
                              {L"MIR_PROBE_HOLD_MS", L"4000"}});
  EXPECT_EQ(run.exit_code, 7u);
  EXPECT_THAT(run.log, Contains(LauncherLine(294, "Failed to delete temp directory (may be locked)",
                                             "WARNING")));
  EXPECT_THAT(run.log, Contains(LauncherLine(335, "Setup Launcher Completed with exit code: 7")));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(run.work_directory) / "held.txt"));
  Sleep(4500);  // let the holder end before the directory is removed
}

// The launcher searches its own file for delimited records; its own bytes
// must not hold a tag, or the text between two of them would be taken for one.
TEST(LauncherFileTest, HoldsNoAttributionTag) {
  for (const wchar_t* launcher : {L"mir_setup_launcher.exe", L"e2e_launcher.exe"}) {
    const std::string bytes = ReadBytes(SiblingProgram(launcher));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.find(std::string("CHANNEL_INFO") + ":"), std::string::npos);
    EXPECT_EQ(bytes.find(std::string(":") + "CHANNEL_INFO"), std::string::npos);
  }
}

TEST_F(LauncherTest, EarlierLogIsReplaced) {
  WriteBytes(log_file(), "a line from an earlier run\n");
  LauncherRun run = Run(L"--silent");
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_FALSE(run.log.empty());
  EXPECT_EQ(run.log.front(), LauncherLine(329, kBanner));
  EXPECT_THAT(run.log, Not(Contains(HasSubstr("earlier run"))));
}

}  // namespace
}  // namespace e2e
