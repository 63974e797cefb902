// The setup launcher: writes the two payloads it carries into a fresh work
// directory, starts the setup guide (first install) or the real installer
// (silent run or upgrade), waits for it, cleans up and exits with its code.
#include <windows.h>

#include "base/files/file_util.h"
#include "command_line/process_command_line.h"
#include "logging/logging.h"
#include "mir_installer_win/setup_launcher/launcher_log.h"
#include "mir_installer_win/setup_launcher/run_launcher_win.h"
#include "product/product_details.h"

namespace {

constexpr char kBanner[] = "======================================";

logging::LogSettings LauncherLogSettings() {
  logging::LogSettings settings;
  base::PathValue temp;
  if (base::QueryTempDirectory(temp)) {
    settings.destinations = logging::DestFile;
    settings.log_file_path = temp.AppendComponent(L"mir_setup_launcher.log").Text();
    settings.old_file_mode = logging::DeleteOld;  // every run starts a fresh log
  } else {
    settings.destinations = 0;  // no file: only errors, to standard error
    settings.old_file_mode = logging::AppendToOld;
  }
  return settings;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // First of all: no DLL loaded from here on, by the launcher or by a system
  // DLL on its behalf, comes from the launcher's folder (often Downloads) or
  // the current directory.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  product::InitProductDetails();
  (void)logging::ConfigureLogging(LauncherLogSettings());
  (void)command_line::InitProcessCommandLine();
  LOG_AT(setup_launcher::kLauncherLog, 329, INFO) << kBanner;
  LOG_AT(setup_launcher::kLauncherLog, 330, INFO) << "Setup Launcher Starting";
  LOG_AT(setup_launcher::kLauncherLog, 331, INFO) << kBanner;
  const int exit_code = setup_launcher::RunLauncher();
  LOG_AT(setup_launcher::kLauncherLog, 335, INFO)
      << "Setup Launcher Completed with exit code: " << exit_code;
  LOG_AT(setup_launcher::kLauncherLog, 336, INFO) << kBanner;
  logging::ShutDownLogFile();
  return exit_code;
}
