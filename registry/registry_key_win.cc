#include "registry/registry_key_win.h"

#include <cwchar>
#include <utility>

namespace registry {
namespace {

constexpr DWORD kStringUnits = 1024;  // a 2048-byte read buffer
constexpr REGSAM kCreatingAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;

std::wstring UpToNul(const wchar_t* text, size_t max_units) {
  return std::wstring(text, wcsnlen(text, max_units));
}

}  // namespace

RegistryKey::RegistryKey(HKEY root, const wchar_t* path, REGSAM access) {
  if (!root) return;
  if (access & kCreatingAccess) {
    CreateKey(root, path, access);
  } else {
    OpenKey(root, path, access);
  }
}

// Both keep the key held before unless the new one could be had.
LONG RegistryKey::CreateKey(HKEY root, const wchar_t* path, REGSAM access) {
  base::ScopedRegistryHandle key;
  DWORD disposition = 0;
  const LONG result = ::RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                        nullptr, key.Receive(), &disposition);
  if (result == ERROR_SUCCESS) key_ = std::move(key);
  return result;
}

LONG RegistryKey::OpenKey(HKEY root, const wchar_t* path, REGSAM access) {
  base::ScopedRegistryHandle key;
  const LONG result = ::RegOpenKeyExW(root, path, 0, access, key.Receive());
  if (result == ERROR_SUCCESS) key_ = std::move(key);
  return result;
}

LONG RegistryKey::ReadString(const wchar_t* name, std::wstring* value) const {
  wchar_t raw[kStringUnits] = {};
  DWORD size = sizeof(raw);
  DWORD type = REG_NONE;
  const LONG result =
      ::RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(raw), &size);
  if (result != ERROR_SUCCESS) return result;
  if (type == REG_SZ) {
    *value = UpToNul(raw, kStringUnits);
    return ERROR_SUCCESS;
  }
  if (type != REG_EXPAND_SZ) return ERROR_CANTREAD;
  // The data may fill the buffer without a terminator.
  const std::wstring source = UpToNul(raw, kStringUnits);
  wchar_t expanded[kStringUnits] = {};
  const DWORD needed = ::ExpandEnvironmentStringsW(source.c_str(), expanded, kStringUnits);
  if (needed == 0 || needed > kStringUnits) return ERROR_MORE_DATA;
  *value = UpToNul(expanded, kStringUnits);
  return ERROR_SUCCESS;
}

LONG RegistryKey::ReadDword(const wchar_t* name, DWORD* value) const {
  // Read straight into a DWORD: the registry stores one in the machine's
  // own order, so there are no bytes to decode here.
  DWORD data = 0;
  DWORD size = sizeof(data);
  DWORD type = REG_NONE;
  const LONG result =
      ::RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (result != ERROR_SUCCESS) return result;
  if ((type != REG_DWORD && type != REG_BINARY) || size != sizeof(data)) return ERROR_CANTREAD;
  *value = data;
  return ERROR_SUCCESS;
}

LONG RegistryKey::WriteString(const wchar_t* name, const wchar_t* text) {
  const size_t units = std::wcslen(text);
  return ::RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((units + 1) * sizeof(wchar_t)));
}

}  // namespace registry
