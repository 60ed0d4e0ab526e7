// ScopedHandle owns one Win32 handle: it closes it when it goes and registers it with the process's handle
// verifier (scoped_handle_verifier.h) while it holds it. 0 and INVALID_HANDLE_VALUE both mean "no handle".
// Storing a handle never changes the thread's last error, so code can store what an open returned and read
// the open's error afterwards.
#ifndef BASE_WIN_SCOPED_HANDLE_H_
#define BASE_WIN_SCOPED_HANDLE_H_

#include <windows.h>

namespace base {
namespace win {

class HandleTraits {
 public:
  // Closes through the verifier: a failed close stops the process (see ActiveVerifier::CloseHandle).
  static bool CloseHandle(HANDLE handle);
  static bool IsHandleValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
};

// Registration with the verifier: `owner` is the holder, `pc1` its caller and `pc2` the place of the call.
class VerifierTraits {
 public:
  static void StartTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2);
  static void StopTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2);
};

class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) { Set(handle); }
  ScopedHandle(ScopedHandle&& other) noexcept { Set(other.Take()); }
  ScopedHandle& operator=(ScopedHandle&& other) noexcept;
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Close(); }

  bool IsValid() const { return HandleTraits::IsHandleValid(handle_); }
  HANDLE Get() const { return handle_; }

  // Closes the held handle (if any) and takes `handle`; nothing happens when it is the held one.
  void Set(HANDLE handle);
  // Gives up the handle without closing it: the caller owns it now.
  [[nodiscard]] HANDLE Take();
  void Close();

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_HANDLE_H_
