// UniqueHandle<Traits>: the one owner of every Windows handle in the project.
// Traits give the handle type, its empty value, the "is held" test and the
// close call. Kernel handles follow the owned-handle rule: a value is held
// only when it is non-zero and its low 32 bits are below 0xFFFFFFF4, so the
// invalid-handle value and the pseudo-handles are never closed.
//
//   ScopedHandle file(CreateFileW(...));
//   if (!file.IsValid()) return false;  // GetLastError() is still CreateFileW's
#ifndef BASE_WIN_SCOPED_HANDLE_H_
#define BASE_WIN_SCOPED_HANDLE_H_

#include <windows.h>

#include <cstdint>
#include <utility>

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
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) { Reset(handle); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Close(); }

  bool IsValid() const { return Traits::IsHeld(handle_); }
  Handle Get() const { return handle_; }

  // Takes ownership of `handle` (a value that is not held leaves the object
  // empty), closing the previous one. The caller's last-error code survives,
  // so a failed call's code can be read after its result is stored.
  void Reset(Handle handle = Traits::Empty()) {
    ScopedPreserveLastError keep_error;
    Close();
    if (Traits::IsHeld(handle)) handle_ = handle;
  }

  Handle Release() { return std::exchange(handle_, Traits::Empty()); }

  void Close() {
    if (Traits::IsHeld(handle_)) Traits::Close(handle_);
    handle_ = Traits::Empty();
  }

 private:
  Handle handle_ = Traits::Empty();
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle handle) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    return value != 0 && static_cast<uint32_t>(value) < 0xFFFFFFF4u;
  }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};
using ScopedHandle = UniqueHandle<KernelHandleTraits>;

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsHeld(Handle handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
  static void Close(Handle handle) { ::FindClose(handle); }
};
using ScopedFindHandle = UniqueHandle<FindHandleTraits>;

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle key) { return key != nullptr; }
  static void Close(Handle key) { ::RegCloseKey(key); }
};
using ScopedRegistryHandle = UniqueHandle<RegistryKeyTraits>;

struct LocalMemoryTraits {
  using Handle = void*;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle memory) { return memory != nullptr; }
  static void Close(Handle memory) { ::LocalFree(memory); }
};
using ScopedLocalMemory = UniqueHandle<LocalMemoryTraits>;

struct LibraryTraits {
  using Handle = HMODULE;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle module) { return module != nullptr; }
  static void Close(Handle module) { ::FreeLibrary(module); }
};
using ScopedLibrary = UniqueHandle<LibraryTraits>;

#endif  // BASE_WIN_SCOPED_HANDLE_H_
