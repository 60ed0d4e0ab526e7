// ScopedRegisteredWait owns one wait registered with the system thread pool (RegisterWaitForSingleObject). When it
// goes, the wait is unregistered and the holder waits until the wait's callback, when running, has returned, so
// that nothing the callback uses goes first. A callback cannot wait for itself: inside its own wait's callback,
// let the wait go with CloseFromCallback.
#ifndef BASE_WIN_SCOPED_REGISTERED_WAIT_H_
#define BASE_WIN_SCOPED_REGISTERED_WAIT_H_

#include <windows.h>

namespace base {
namespace win {

class ScopedRegisteredWait {
 public:
  ScopedRegisteredWait() = default;
  ScopedRegisteredWait(ScopedRegisteredWait&& other) noexcept;
  // Closes the held wait (waiting for its callback) and takes the other's.
  ScopedRegisteredWait& operator=(ScopedRegisteredWait&& other) noexcept;
  ScopedRegisteredWait(const ScopedRegisteredWait&) = delete;
  ScopedRegisteredWait& operator=(const ScopedRegisteredWait&) = delete;
  ~ScopedRegisteredWait() { Close(); }

  // Closes the held wait, then registers `callback` for `object` (RegisterWaitForSingleObject's arguments). False
  // when the system refuses, with its last error; nothing is held then. The wait is held once this returns: a
  // callback that may run before (the object is signalled already) must not look for it in the holder.
  bool Register(HANDLE object, WAITORTIMERCALLBACK callback, void* context, ULONG milliseconds, ULONG flags);

  bool IsValid() const { return wait_ != nullptr; }

  // Unregisters the wait and waits until its running callback, if any, has returned.
  void Close();
  // Unregisters the wait without waiting for its callback: only from within that callback.
  void CloseFromCallback();

 private:
  HANDLE wait_ = nullptr;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_REGISTERED_WAIT_H_
