#include "mir_installer_win/setup_launcher/run_launcher_win.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"
#include "command_line/process_command_line.h"
#include "mir_installer_win/installer/install_attribution_win.h"
#include "mir_installer_win/setup_launcher/attribution_source_win.h"
#include "mir_installer_win/setup_launcher/error_box_win.h"
#include "mir_installer_win/setup_launcher/installation_probe_win.h"
#include "mir_installer_win/setup_launcher/launcher_log.h"
#include "mir_installer_win/setup_launcher/payload_extraction_win.h"

namespace setup_launcher {
namespace {

constexpr int kLauncherFailure = 1;

// The work directory and the payloads, held open from their creation until
// the child has ended, so that nobody can swap them in between: not before
// the child starts, and not while the guide runs and may still start the
// installer. Reading stays shared, so the guide can start it.
struct Holds {
  base::ScopedHandle work_directory;
  base::ScopedHandle guide;
  base::ScopedHandle installer;

  void Release() {
    work_directory.Close();
    guide.Close();
    installer.Close();
  }
};

// The guide alone for a first install; the installer with "--silent", and
// "--launch-after-install" for an upgrade the user started.
command_line::CommandLine BuildChildCommand(bool silent, bool user_initiated_upgrade,
                                            const base::PathValue& guide,
                                            const base::PathValue& installer) {
  command_line::CommandLine command;
  if (silent) {
    LOG_AT(kLauncherLog, 230, INFO) << "Running real installer with --silent";
    command = command_line::CommandLine(installer);
    command.AddSwitch("silent");
  } else {
    LOG_AT(kLauncherLog, 233, INFO) << "Running setup guide";
    command = command_line::CommandLine(guide);
  }
  if (user_initiated_upgrade) {
    command.AddSwitch("launch-after-install");
    LOG_AT(kLauncherLog, 244, INFO) << "Appended --launch-after-install for user-initiated upgrade";
  }
  return command;
}

// Finds the attribution record (first in a file the command line names) and
// stores it; nothing of it reaches the child.
void StoreAttribution(const command_line::CommandLine& command_line) {
  std::string data;
  if (command_line.IsSwitchPresent("mir-attribution-source")) {
    const base::PathValue source = command_line.SwitchValuePath("mir-attribution-source");
    if (!source.empty()) {
      AttributionSource opened = OpenAttributionSource(source);
      switch (opened.verdict) {
        case AttributionSource::Verdict::kNotLocal:
          LOG_AT(kLauncherLog, 258, WARNING)
              << "[InstallAttribution] Attribution source refused, not a file on a local drive: "
              << source;
          break;
        case AttributionSource::Verdict::kThroughLink:
          LOG_AT(kLauncherLog, 259, WARNING)
              << "[InstallAttribution] Attribution source refused, reached through a link: "
              << source;
          break;
        case AttributionSource::Verdict::kOpened:
        case AttributionSource::Verdict::kOpenFailed:
          data = installer::ReadAttributionFromOpenedFile(std::move(opened.file), opened.error);
          break;
      }
    }
  }
  if (data.empty()) data = installer::ReadAttributionFromSelf();
  if (!data.empty()) {
    (void)installer::WriteAttributionToRegistry(data);  // the store logs its own failures
    LOG_AT(kLauncherLog, 262, INFO)
        << "[InstallAttribution] Attribution written to registry from launcher";
  } else {
    LOG_AT(kLauncherLog, 264, INFO) << "[InstallAttribution] No attribution data found in self exe";
  }
}

// Deletes the work directory once the child has ended. The system may hold a
// just-ended child's files, or its current directory, for a moment (Wine
// does, and so do virus scanners on Windows), so a failure is retried for
// half a second before the directory is given up; in short steps, because
// the moment is mostly much shorter, and what is not held is gone after the
// first attempt.
bool DeleteWorkDirectoryAfterChild(const base::PathValue& work_directory) {
  constexpr int kAttempts = 50;
  constexpr DWORD kPauseMilliseconds = 10;
  for (int attempt = 1;; ++attempt) {
    if (base::DeleteRecursively(work_directory)) return true;
    if (attempt == kAttempts) return false;
    ::Sleep(kPauseMilliseconds);
  }
}

}  // namespace

base::ProcessLaunchOptions ChildLaunchOptions(const base::PathValue& work_directory, bool silent) {
  base::ProcessLaunchOptions options;  // inheriting nothing: no handle list, ListedOnly
  options.working_directory = work_directory;
  options.hide_window = silent;
  return options;
}

int RunLauncher() {
  LOG_AT(kLauncherLog, 152, INFO) << "RunLauncher starting...";
  const command_line::CommandLine* command_line = command_line::GetProcessCommandLine();
  if (!command_line) {
    LOG_AT(kLauncherLog, 156, ERROR) << "Failed to get CommandLine";
    ShowErrorBox(kInitializationFailedText);
    return kLauncherFailure;
  }

  bool silent = command_line->IsSwitchPresent("silent");
  bool user_initiated_upgrade = false;
  LOG_AT(kLauncherLog, 164, INFO) << "Silent mode: " << TrueFalse(silent);
  if (!silent) {
    LOG_AT(kLauncherLog, 174, INFO) << "About to call IsAlreadyInstalled()...";
    const bool installed = IsAlreadyInstalled();
    LOG_AT(kLauncherLog, 176, INFO) << "IsAlreadyInstalled() returned: " << TrueFalse(installed);
    if (installed) {
      LOG_AT(kLauncherLog, 178, INFO)
          << "Existing installation detected, running silent upgrade (user-initiated)";
      silent = true;
      user_initiated_upgrade = true;
    }
  }
  LOG_AT(kLauncherLog, 183, INFO) << "After installation check, silent mode is now: "
                                  << TrueFalse(silent);
  LOG_AT(kLauncherLog, 184, INFO) << "User initiated upgrade: "
                                  << TrueFalse(user_initiated_upgrade);

  Holds holds;
  const base::PathValue work_directory = CreateWorkDirectory(holds.work_directory);
  if (work_directory.empty()) {
    LOG_AT(kLauncherLog, 188, ERROR) << "Failed to create temp dir";
    ShowErrorBox(kTemporaryFolderFailedText);
    return kLauncherFailure;
  }
  // The work directory is deleted exactly once on every way out from here,
  // except after a failed wait, when the child may still be using it.
  const auto fail = [&](const wchar_t* box_text) {
    if (!silent) ShowErrorBox(box_text);
    holds.Release();
    (void)base::DeleteRecursively(work_directory);
    return kLauncherFailure;
  };

  const base::PathValue guide = work_directory.AppendComponent(kSetupGuideFileName);
  const base::PathValue installer = work_directory.AppendComponent(kInstallerFileName);
  LOG_AT(kLauncherLog, 200, INFO) << "Guide exe path: " << guide;
  LOG_AT(kLauncherLog, 201, INFO) << "Real exe path: " << installer;
  if (!ExtractResourceToFile(kSetupGuideResource, guide, holds.guide)) {
    LOG_AT(kLauncherLog, 204, ERROR) << "Failed to extract guide exe";
    return fail(kExtractFailedText);
  }
  LOG_AT(kLauncherLog, 213, INFO) << "Guide exe extracted successfully";
  if (!ExtractResourceToFile(kInstallerResource, installer, holds.installer)) {
    LOG_AT(kLauncherLog, 216, ERROR) << "Failed to extract real installer exe";
    return fail(kExtractFailedText);
  }
  LOG_AT(kLauncherLog, 225, INFO) << "Real installer exe extracted successfully";

  const command_line::CommandLine child_command =
      BuildChildCommand(silent, user_initiated_upgrade, guide, installer);
  StoreAttribution(*command_line);

  LOG_AT(kLauncherLog, 266, INFO) << "Launch command: " << child_command.CommandText();
  const base::ProcessLaunchOptions options = ChildLaunchOptions(work_directory, silent);
  LOG_AT(kLauncherLog, 272, INFO) << "Launching process...";
  const base::Process child = base::LaunchProcess(child_command, options);
  if (!child.IsUsable()) {
    LOG_AT(kLauncherLog, 275, ERROR)
        << "Failed to launch process, GetLastError: " << ::GetLastError();
    return fail(kStartFailedText);
  }
  LOG_AT(kLauncherLog, 285, INFO) << "Process launched with PID: " << child.ProcessId();
  DWORD exit_code = 0;
  if (!child.WaitUntilExit(&exit_code)) {
    // Whether the child has ended is unknown: its directory stays, and the
    // run is not reported as a success.
    LOG_AT(kLauncherLog, 287, ERROR)
        << "Failed to wait for process, GetLastError: " << ::GetLastError();
    return kLauncherFailure;
  }
  const int result = static_cast<int>(exit_code);
  LOG_AT(kLauncherLog, 288, INFO) << "Process completed with exit code: " << result;

  LOG_AT(kLauncherLog, 290, INFO) << "Cleaning up temp directory...";
  holds.Release();
  if (DeleteWorkDirectoryAfterChild(work_directory)) {
    LOG_AT(kLauncherLog, 292, INFO) << "Temp directory deleted successfully";
  } else {
    LOG_AT(kLauncherLog, 294, WARNING) << "Failed to delete temp directory (may be locked)";
  }
  return result;
}

}  // namespace setup_launcher
