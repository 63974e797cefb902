// The source location every attribution log line carries in its header.
#ifndef MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_LOG_H_
#define MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_LOG_H_

#include "logging/logging.h"

namespace installer {

inline constexpr logging::LogSource kAttributionLog{
    "mir_installer_win/installer/install_attribution_win"};

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_LOG_H_
