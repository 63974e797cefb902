// A registry subtree that a test owns: deleted before the test (leftovers of
// a crashed run) and after it.
#ifndef TESTING_SCOPED_REGISTRY_KEY_WIN_H_
#define TESTING_SCOPED_REGISTRY_KEY_WIN_H_

#include <windows.h>

#include <string>

namespace test_support {

class ScopedRegistryTree {
 public:
  ScopedRegistryTree(HKEY root, std::wstring path) : root_(root), path_(std::move(path)) {
    Delete();
  }
  ~ScopedRegistryTree() { Delete(); }
  ScopedRegistryTree(const ScopedRegistryTree&) = delete;
  ScopedRegistryTree& operator=(const ScopedRegistryTree&) = delete;

  const wchar_t* path() const { return path_.c_str(); }
  bool Exists() const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  // Stores raw value data, creating the key when needed.
  LONG SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) const {
    HKEY key = nullptr;
    LONG result =
        RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return result;
    result = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return result;
  }
  LONG SetString(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) const {
    return SetRaw(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
  }
  // The raw data and type of a value; false when it cannot be read.
  bool GetRaw(const wchar_t* name, std::string* data, DWORD* type) const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    LONG result = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
    if (result == ERROR_SUCCESS) {
      data->resize(size);
      result =
          RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(data->data()), &size);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
  }

 private:
  void Delete() const {
    RegDeleteTreeW(root_, path_.c_str());
    RegDeleteKeyW(root_, path_.c_str());
  }

  HKEY root_;
  std::wstring path_;
};

}  // namespace test_support

#endif  // TESTING_SCOPED_REGISTRY_KEY_WIN_H_
