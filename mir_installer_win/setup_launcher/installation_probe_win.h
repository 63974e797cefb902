// Whether the browser is already installed for the current user: its
// uninstall key under HKEY_CURRENT_USER has a non-empty "InstallLocation".
// Only reads; the directory named is not examined.
#ifndef MIR_INSTALLER_WIN_SETUP_LAUNCHER_INSTALLATION_PROBE_WIN_H_
#define MIR_INSTALLER_WIN_SETUP_LAUNCHER_INSTALLATION_PROBE_WIN_H_

namespace setup_launcher {

inline constexpr wchar_t kUninstallKeyPrefix[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Every failure (no key, no value, a value of the wrong type) means "not installed".
bool IsAlreadyInstalled();

}  // namespace setup_launcher

#endif  // MIR_INSTALLER_WIN_SETUP_LAUNCHER_INSTALLATION_PROBE_WIN_H_
