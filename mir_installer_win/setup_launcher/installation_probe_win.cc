#include "mir_installer_win/setup_launcher/installation_probe_win.h"

#include <string>

#include "mir_installer_win/setup_launcher/launcher_log.h"
#include "product/product_details.h"
#include "registry/registry_key_win.h"

namespace setup_launcher {

bool IsAlreadyInstalled() {
  LOG_AT(kLauncherLog, 112, INFO) << "[IsAlreadyInstalled] START";
  const std::wstring product = product::ProductRegistryName();
  LOG_AT(kLauncherLog, 115, INFO) << "[IsAlreadyInstalled] Product: " << product;
  if (product.empty()) {
    LOG_AT(kLauncherLog, 117, WARNING)
        << "[IsAlreadyInstalled] Product name is empty, returning false";
    return false;
  }
  const std::wstring key_path = kUninstallKeyPrefix + product;
  LOG_AT(kLauncherLog, 123, INFO) << "[IsAlreadyInstalled] Registry key path: " << key_path;

  LOG_AT(kLauncherLog, 126, INFO) << "[IsAlreadyInstalled] Opening registry key...";
  registry::RegistryKey key(HKEY_CURRENT_USER, key_path.c_str(), KEY_READ);
  if (!key.IsOpen()) {
    LOG_AT(kLauncherLog, 129, INFO)
        << "[IsAlreadyInstalled] Registry key not found (first install), returning false";
    return false;
  }
  LOG_AT(kLauncherLog, 133, INFO) << "[IsAlreadyInstalled] Registry key opened successfully";
  LOG_AT(kLauncherLog, 136, INFO) << "[IsAlreadyInstalled] Reading InstallLocation value...";

  std::wstring location;
  const LONG result = key.ReadString(L"InstallLocation", &location);
  if (result != ERROR_SUCCESS) {
    LOG_AT(kLauncherLog, 139, INFO) << "[IsAlreadyInstalled] InstallLocation value not found, "
                                       "error code: "
                                    << result << ", returning false";
    return false;
  }
  LOG_AT(kLauncherLog, 143, INFO) << "[IsAlreadyInstalled] InstallLocation read successfully: "
                                  << location;
  const bool installed = !location.empty();
  LOG_AT(kLauncherLog, 145, INFO) << "[IsAlreadyInstalled] Result: "
                                  << (installed ? "INSTALLED" : "NOT INSTALLED");
  LOG_AT(kLauncherLog, 146, INFO) << "[IsAlreadyInstalled] END - returning "
                                  << TrueFalse(installed);
  return installed;
}

}  // namespace setup_launcher
