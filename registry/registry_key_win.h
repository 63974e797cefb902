// RegistryKey: owns at most one open registry key. Every operation that can
// fail returns the Windows error code (0 for success); nothing here logs.
//
//   RegistryKey key(HKEY_CURRENT_USER, L"Software\\Mirelo Browser", KEY_READ);
//   std::wstring location;
//   if (key.IsOpen() && key.ReadString(L"InstallLocation", &location) == ERROR_SUCCESS) ...
#ifndef REGISTRY_REGISTRY_KEY_WIN_H_
#define REGISTRY_REGISTRY_KEY_WIN_H_

#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"

namespace registry {

class RegistryKey {
 public:
  RegistryKey() = default;
  // Creates the key when `access` can write (KEY_SET_VALUE, KEY_CREATE_SUB_KEY
  // or KEY_CREATE_LINK), else only opens it; IsOpen() tells the outcome.
  RegistryKey(HKEY root, const wchar_t* path, REGSAM access);
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Both keep the key held before when they fail.
  LONG CreateKey(HKEY root, const wchar_t* path, REGSAM access);
  LONG OpenKey(HKEY root, const wchar_t* path, REGSAM access);

  bool IsOpen() const { return key_.IsValid(); }
  void Close() { key_.Close(); }

  // A REG_SZ value, or a REG_EXPAND_SZ value expanded; at most 1024
  // characters. ERROR_MORE_DATA when it does not fit, ERROR_CANTREAD for
  // other types. `value` is untouched on failure.
  LONG ReadString(const wchar_t* name, std::wstring* value) const;
  // A 4-byte REG_DWORD or REG_BINARY value, else ERROR_CANTREAD.
  LONG ReadDword(const wchar_t* name, DWORD* value) const;
  // Stores `text` up to its first NUL, with exactly one terminator.
  LONG WriteString(const wchar_t* name, const wchar_t* text);

 private:
  base::ScopedRegistryHandle key_;
};

}  // namespace registry

#endif  // REGISTRY_REGISTRY_KEY_WIN_H_
