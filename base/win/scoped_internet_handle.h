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
  ScopedInternetHandle(const ScopedInternetHandle&) = delete;
  ScopedInternetHandle& operator=(const ScopedInternetHandle&) = delete;
  ~ScopedInternetHandle() { Reset(); }

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // Closes the held handle (if any) and takes `handle`.
  void Reset(HINTERNET handle = nullptr) {
    if (handle_)
      InternetHandleTraits::CloseHandle(handle_);
    handle_ = handle;
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
