// A fresh directory for one test, removed with everything in it at the end.
#ifndef TESTING_SCOPED_TEMP_DIR_H_
#define TESTING_SCOPED_TEMP_DIR_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace test_support {

class ScopedTempDir {
 public:
  ScopedTempDir() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("mir_test_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~ScopedTempDir() {
    std::error_code ignored;
    std::filesystem::recursive_directory_iterator entry(path_, ignored), end;
    for (; entry != end; entry.increment(ignored)) {
      std::filesystem::permissions(entry->path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory, or a file in it, as wide text.
  std::wstring Wide(std::wstring_view name = {}) const {
    return name.empty() ? path_.wstring() : (path_ / std::wstring(name)).wstring();
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), {});
}

inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace test_support

#endif  // TESTING_SCOPED_TEMP_DIR_H_
