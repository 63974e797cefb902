// Running the real launcher as users do, as a separate process with its own
// temporary directory, and what each run leaves to check: its log, its
// boxes, its exit code, the payload probe's report and the registry.
#ifndef E2E_LAUNCHER_FIXTURE_H_
#define E2E_LAUNCHER_FIXTURE_H_

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "strings/utf_string_conversions.h"
#include "testing/box_watcher_win.h"
#include "testing/child_process_win.h"
#include "testing/expected_log_line.h"
#include "testing/log_capture.h"
#include "testing/scoped_command_config_win.h"
#include "testing/scoped_registry_key_win.h"
#include "testing/scoped_temp_dir.h"

namespace e2e {

using test_support::BoxInfo;
using test_support::EnvironmentOverrides;
using test_support::LauncherLine;
using test_support::ReadBytes;
using test_support::ReadProbeReport;
using test_support::ScopedCommandConfig;
using test_support::ScopedLogCapture;
using test_support::ScopedRegistryTree;
using test_support::ScopedTempDir;
using test_support::SiblingProgram;
using test_support::StartChild;
using test_support::WaitWatchingBoxes;
using test_support::WatchedRun;

inline constexpr wchar_t kCaption[] = L"Mirelo Browser Setup";
inline constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelo Browser";

struct LauncherRun {
  bool exited = false;
  DWORD exit_code = 0;
  std::vector<BoxInfo> boxes;
  std::vector<std::string> log;               // line bodies of mir_setup_launcher.log
  std::map<std::string, std::string> report;  // the probe's, when a payload ran
  std::wstring work_directory;                // from the log's "Temp directory created: " line
};

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() {
    std::filesystem::create_directories(tmp());
    std::filesystem::create_directories(cwd());
  }

  std::filesystem::path tmp() const { return root_.path() / "tmp"; }
  std::filesystem::path cwd() const { return root_.path() / "cwd"; }
  std::filesystem::path log_file() const { return tmp() / "mir_setup_launcher.log"; }
  std::filesystem::path report_file() const { return root_.path() / "report.txt"; }

  // Starts `program` with its own temporary directory (unless `environment`
  // names one) and the probe's report file; an empty handle on failure.
  base::ScopedHandle Start(const std::wstring& program, const std::wstring& arguments,
                           EnvironmentOverrides environment = {}) {
    environment.emplace_back(L"MIR_PROBE_REPORT", report_file().wstring());
    bool tmp_given = false;
    for (const auto& [name, value] : environment) tmp_given = tmp_given || name == L"TMP";
    if (!tmp_given) {
      environment.emplace_back(L"TMP", tmp().wstring());
      environment.emplace_back(L"TEMP", tmp().wstring());
    }
    const std::wstring command =
        L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" ") + arguments;
    base::ScopedHandle process = StartChild(command, environment, cwd().wstring().c_str());
    if (!process.IsValid())
      ADD_FAILURE() << "the launcher could not be started: " << GetLastError();
    return process;
  }

  // What a run that has ended left behind.
  LauncherRun Collect(const WatchedRun& watched) const {
    LauncherRun run;
    run.exited = watched.exited;
    run.exit_code = watched.exit_code;
    run.boxes = watched.boxes;
    run.log = ScopedLogCapture::FileBodies(ReadBytes(log_file()));
    run.report = ReadProbeReport(report_file());
    const std::string created = LauncherLine(195, "Temp directory created: ");
    for (const std::string& line : run.log) {
      if (line.rfind(created, 0) == 0)
        run.work_directory = strings::Utf8ToWide(line.substr(created.size()));
    }
    return run;
  }

  LauncherRun Run(const std::wstring& program, const std::wstring& arguments,
                  EnvironmentOverrides environment = {}) {
    base::ScopedHandle process = Start(program, arguments, std::move(environment));
    if (!process.IsValid()) return LauncherRun();
    return Collect(WaitWatchingBoxes(process.Get(), kCaption, 60000));
  }
  LauncherRun Run(const std::wstring& arguments, EnvironmentOverrides environment = {}) {
    return Run(SiblingProgram(L"e2e_launcher.exe"), arguments, std::move(environment));
  }

  void Install(const std::wstring& location) const {
    ASSERT_EQ(uninstall_.SetString(L"InstallLocation", location), ERROR_SUCCESS);
  }
  std::string StoredAttribution() const {
    std::string data;
    DWORD type = 0;
    if (!attribution_.GetRaw(L"CHANNEL_INFO", &data, &type) || type != REG_SZ) return "<none>";
    return strings::WideToUtf8(
        std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2 - 1));
  }

  ScopedTempDir root_;
  ScopedRegistryTree uninstall_{HKEY_CURRENT_USER, kUninstallKey};
  ScopedRegistryTree product_{HKEY_CURRENT_USER, L"Software\\Mirelo Browser"};
  ScopedRegistryTree attribution_{HKEY_CURRENT_USER,
                                  L"Software\\Mirelo Browser\\InstallAttribution"};
  ScopedCommandConfig config_;
};

// Lines that hold a process id are compared up to the id.
inline void ExpectLog(const std::vector<std::string>& actual,
                      const std::vector<std::string>& expected) {
  ASSERT_EQ(actual.size(), expected.size()) << ::testing::PrintToString(actual);
  for (size_t i = 0; i < expected.size(); ++i) {
    if (!expected[i].empty() && expected[i].back() == '*') {
      EXPECT_THAT(actual[i], ::testing::StartsWith(expected[i].substr(0, expected[i].size() - 1)))
          << "line " << i;
    } else {
      EXPECT_EQ(actual[i], expected[i]) << "line " << i;
    }
  }
}

inline std::vector<std::string> Extraction(const std::string& work, int id, const std::string& name,
                                           uint64_t size) {
  const std::string path = work + "\\" + name;
  return {LauncherLine(48, "Extracting resource " + std::to_string(id) + " to " + path),
          LauncherLine(77, "Resource size: " + std::to_string(size) + " bytes"),
          LauncherLine(89, "Successfully extracted resource to " + path)};
}

inline uint64_t ProbeSize() {
  return std::filesystem::file_size(SiblingProgram(L"payload_probe.exe"));
}

inline std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline const std::string kBanner = "======================================";

}  // namespace e2e

#endif  // E2E_LAUNCHER_FIXTURE_H_
