// Writes the launcher's mir_command.config for one test, in the prefix's
// local application-data folder, and removes it (and the folder, when the
// test made it) afterwards. Tests using it hold the "mir_command_config" lock.
#ifndef TESTING_SCOPED_COMMAND_CONFIG_WIN_H_
#define TESTING_SCOPED_COMMAND_CONFIG_WIN_H_

#include <windows.h>

#include <shlobj.h>

#include <filesystem>
#include <string_view>

#include "testing/scoped_temp_dir.h"

namespace test_support {

class ScopedCommandConfig {
 public:
  ScopedCommandConfig() {
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    folder_ = std::filesystem::path(folder) / L"Mirelo Browser";
    std::error_code ignored;
    std::filesystem::remove(file(), ignored);
    made_folder_ = std::filesystem::create_directories(folder_);
  }
  ~ScopedCommandConfig() {
    std::error_code ignored;
    std::filesystem::remove(file(), ignored);
    if (made_folder_) std::filesystem::remove(folder_, ignored);
  }
  ScopedCommandConfig(const ScopedCommandConfig&) = delete;
  ScopedCommandConfig& operator=(const ScopedCommandConfig&) = delete;

  void Write(std::string_view bytes) const { WriteBytes(file(), bytes); }
  std::filesystem::path file() const { return folder_ / L"mir_command.config"; }

 private:
  std::filesystem::path folder_;
  bool made_folder_ = false;
};

}  // namespace test_support

#endif  // TESTING_SCOPED_COMMAND_CONFIG_WIN_H_
