// The Windows handles the project holds, each an alias of UniqueHandle with
// its traits. Kernel handles follow the owned-handle rule: a value is held
// only when it is non-zero and its low 32 bits are below 0xFFFFFFF4, so the
// invalid-handle value and the pseudo-handles are never closed. Every owner
// keeps the thread's last-error code across its own bookkeeping.
//
//   ScopedHandle file(CreateFileW(...));
//   if (!file.IsValid()) return false;  // GetLastError() is still CreateFileW's
#ifndef BASE_WIN_SCOPED_HANDLE_H_
#define BASE_WIN_SCOPED_HANDLE_H_

#include <windows.h>

#include <cstdint>

#include "base/unique_handle.h"

namespace base {

// Restores the thread's last-error code when it goes out of scope.
class ScopedPreserveLastError {
 public:
  ScopedPreserveLastError() : error_(::GetLastError()) {}
  ~ScopedPreserveLastError() { ::SetLastError(error_); }
  ScopedPreserveLastError(const ScopedPreserveLastError&) = delete;
  ScopedPreserveLastError& operator=(const ScopedPreserveLastError&) = delete;

 private:
  DWORD error_;
};

template <typename Traits>
using WinUniqueHandle = UniqueHandle<Traits, ScopedPreserveLastError>;

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle handle) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    return value != 0 && static_cast<uint32_t>(value) < 0xFFFFFFF4u;
  }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};
using ScopedHandle = WinUniqueHandle<KernelHandleTraits>;

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsHeld(Handle handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
  static void Close(Handle handle) { ::FindClose(handle); }
};
using ScopedFindHandle = WinUniqueHandle<FindHandleTraits>;

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle key) { return key != nullptr; }
  static void Close(Handle key) { ::RegCloseKey(key); }
};
using ScopedRegistryHandle = WinUniqueHandle<RegistryKeyTraits>;

struct LocalMemoryTraits {
  using Handle = void*;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle memory) { return memory != nullptr; }
  static void Close(Handle memory) { ::LocalFree(memory); }
};
using ScopedLocalMemory = WinUniqueHandle<LocalMemoryTraits>;

struct LibraryTraits {
  using Handle = HMODULE;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle module) { return module != nullptr; }
  static void Close(Handle module) { ::FreeLibrary(module); }
};
using ScopedLibrary = WinUniqueHandle<LibraryTraits>;

// A process/thread attribute list in process-heap memory: deleted, then freed.
struct AttributeListTraits {
  using Handle = LPPROC_THREAD_ATTRIBUTE_LIST;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle list) { return list != nullptr; }
  static void Close(Handle list) {
    ::DeleteProcThreadAttributeList(list);
    ::HeapFree(::GetProcessHeap(), 0, list);
  }
};
using ScopedAttributeList = WinUniqueHandle<AttributeListTraits>;

}  // namespace base

#endif  // BASE_WIN_SCOPED_HANDLE_H_
