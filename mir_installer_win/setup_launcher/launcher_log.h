// The source location every launcher log line carries in its header.
#ifndef MIR_INSTALLER_WIN_SETUP_LAUNCHER_LAUNCHER_LOG_H_
#define MIR_INSTALLER_WIN_SETUP_LAUNCHER_LAUNCHER_LOG_H_

#include "logging/logging.h"

namespace setup_launcher {

inline constexpr logging::LogSource kLauncherLog{
    "mir_installer_win/setup_launcher/setup_launcher_main"};

inline const char* TrueFalse(bool value) { return value ? "true" : "false"; }

}  // namespace setup_launcher

#endif  // MIR_INSTALLER_WIN_SETUP_LAUNCHER_LAUNCHER_LOG_H_
