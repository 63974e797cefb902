// UniqueHandle<Traits>: the one owner template for every handle the project
// holds, on either platform. Traits give the handle type, its empty value,
// the "is held" test and the close call; a value that is not held is never
// closed. `ErrorKeeper` is a scope object (on Windows the one that keeps the
// thread's last-error code) so that storing, replacing or closing a handle
// never disturbs the error a failed call has just left.
//
//   ScopedHandle file;
//   if (!::DuplicateHandle(..., file.Receive(), ...)) return false;  // error intact
#ifndef BASE_UNIQUE_HANDLE_H_
#define BASE_UNIQUE_HANDLE_H_

#include <utility>

namespace base {

struct NoErrorKeeper {};

template <typename Traits, typename ErrorKeeper = NoErrorKeeper>
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

  // Takes ownership of `handle`, closing the previous one; a value that is
  // not held leaves the object empty.
  void Reset(Handle handle = Traits::Empty()) {
    [[maybe_unused]] ErrorKeeper keep_error;
    Close();
    if (Traits::IsHeld(handle)) handle_ = handle;
  }

  Handle Release() { return std::exchange(handle_, Traits::Empty()); }

  void Close() {
    [[maybe_unused]] ErrorKeeper keep_error;
    if (Traits::IsHeld(handle_)) Traits::Close(handle_);
    handle_ = Traits::Empty();
  }

  // For calls that return a handle through an out-parameter: closes the
  // current handle and lets the call write straight into this owner. A value
  // written by a failing call that is not held is never closed.
  Handle* Receive() {
    Close();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Empty();
};

}  // namespace base

#endif  // BASE_UNIQUE_HANDLE_H_
