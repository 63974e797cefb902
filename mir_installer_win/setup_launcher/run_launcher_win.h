// The launcher's run: the mode decision, the work directory and payloads,
// the child command, the attribution, the child process and the exit code.
#ifndef MIR_INSTALLER_WIN_SETUP_LAUNCHER_RUN_LAUNCHER_WIN_H_
#define MIR_INSTALLER_WIN_SETUP_LAUNCHER_RUN_LAUNCHER_WIN_H_

#include "base/files/file_path.h"
#include "base/process/launch_win.h"

namespace setup_launcher {

// Runs the launcher once on the process command line, which must have been
// initialised. Returns the child's exit code, or 1 when the launcher fails.
int RunLauncher();

// The options the child is started with: in the work directory, hidden when
// silent, inheriting nothing.
base::ProcessLaunchOptions ChildLaunchOptions(const base::PathValue& work_directory, bool silent);

}  // namespace setup_launcher

#endif  // MIR_INSTALLER_WIN_SETUP_LAUNCHER_RUN_LAUNCHER_WIN_H_
