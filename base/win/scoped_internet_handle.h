// ScopedInternetHandle owns one WinINet handle (a session, connection or request) and closes it on Close,
// on Set of another handle or when it goes. Only what uses it links the network library's close.
#ifndef BASE_WIN_SCOPED_INTERNET_HANDLE_H_
#define BASE_WIN_SCOPED_INTERNET_HANDLE_H_

#include <windows.h>

#include <wininet.h>

namespace base {
namespace win {

class InternetHandleTraits {
 public:
  // Closes `handle`. Also for a handle a holder keeps, to end a call blocked on it on another thread: the holder
  // then lets go of it with Take.
  static bool CloseHandle(HINTERNET handle);
};

class ScopedInternetHandle {
 public:
  ScopedInternetHandle() = default;
  explicit ScopedInternetHandle(HINTERNET handle) : handle_(handle) {}
  ScopedInternetHandle(ScopedInternetHandle&& other) noexcept : handle_(other.Take()) {}
  ScopedInternetHandle& operator=(ScopedInternetHandle&& other) noexcept {
    if (this != &other)
      Set(other.Take());
    return *this;
  }
  ScopedInternetHandle(const ScopedInternetHandle&) = delete;
  ScopedInternetHandle& operator=(const ScopedInternetHandle&) = delete;
  ~ScopedInternetHandle() { Close(); }

  bool IsValid() const { return handle_ != nullptr; }
  HINTERNET Get() const { return handle_; }

  // Takes `handle`, then closes the one held before (if any); nothing happens when it is the held one. WinINet
  // may call back from inside the close: a callback that reads the holder finds the closing handle gone already.
  void Set(HINTERNET handle) {
    if (handle == handle_)
      return;
    HINTERNET previous = handle_;
    handle_ = handle;
    if (previous)
      InternetHandleTraits::CloseHandle(previous);
  }
  // Gives up the handle without closing it: the caller owns it now, or something else closed it.
  [[nodiscard]] HINTERNET Take() {
    HINTERNET handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  // Closes the held handle (if any); the holder is empty from before the close on, as with Set.
  void Close() { Set(nullptr); }

 private:
  HINTERNET handle_ = nullptr;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_INTERNET_HANDLE_H_
