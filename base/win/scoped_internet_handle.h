// ScopedInternetHandle owns one WinINet handle (a session, connection or request) and closes it when it is reset
// or goes. Only what uses it links the network library's close.
#ifndef BASE_WIN_SCOPED_INTERNET_HANDLE_H_
#define BASE_WIN_SCOPED_INTERNET_HANDLE_H_

#include <windows.h>

#include <wininet.h>

namespace base {
namespace win {

class InternetHandleTraits {
 public:
  // Closes `handle`. Also for a handle a holder keeps, to end a call blocked on it on another thread: the holder
  // then lets go of it with Detach.
  static bool CloseHandle(HINTERNET handle);
};

class ScopedInternetHandle {
 public:
  ScopedInternetHandle() = default;
  explicit ScopedInternetHandle(HINTERNET handle) : handle_(handle) {}
  ScopedInternetHandle(ScopedInternetHandle&& other) noexcept : handle_(other.Detach()) {}
  ScopedInternetHandle& operator=(ScopedInternetHandle&& other) noexcept {
    if (this != &other)
      Reset(other.Detach());
    return *this;
  }
  ScopedInternetHandle(const ScopedInternetHandle&) = delete;
  ScopedInternetHandle& operator=(const ScopedInternetHandle&) = delete;
  ~ScopedInternetHandle() { Reset(); }

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // Takes `handle`, then closes the one held before (if any). WinINet may call back from inside the close: a
  // callback that reads the holder finds the closing handle gone already.
  void Reset(HINTERNET handle = nullptr) {
    HINTERNET previous = handle_;
    handle_ = handle;
    if (previous)
      InternetHandleTraits::CloseHandle(previous);
  }
  // Gives up the handle without closing it: the caller owns it now, or something else closed it.
  [[nodiscard]] HINTERNET Detach() {
    HINTERNET handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  HINTERNET handle_ = nullptr;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_INTERNET_HANDLE_H_
