#include "base/win/scoped_registered_wait.h"

#include <utility>

namespace base {
namespace win {

ScopedRegisteredWait::ScopedRegisteredWait(ScopedRegisteredWait&& other) noexcept
    : wait_(std::exchange(other.wait_, nullptr)) {}

ScopedRegisteredWait& ScopedRegisteredWait::operator=(ScopedRegisteredWait&& other) noexcept {
  if (this != &other) {
    Close();
    wait_ = std::exchange(other.wait_, nullptr);
  }
  return *this;
}

bool ScopedRegisteredWait::Register(HANDLE object,
                                    WAITORTIMERCALLBACK callback,
                                    void* context,
                                    ULONG milliseconds,
                                    ULONG flags) {
  Close();
  HANDLE wait = nullptr;
  if (!RegisterWaitForSingleObject(&wait, object, callback, context, milliseconds, flags))
    return false;
  wait_ = wait;
  return true;
}

void ScopedRegisteredWait::Close() {
  if (wait_)
    UnregisterWaitEx(std::exchange(wait_, nullptr), INVALID_HANDLE_VALUE);
}

void ScopedRegisteredWait::CloseFromCallback() {
  if (wait_)
    UnregisterWaitEx(std::exchange(wait_, nullptr), nullptr);
}

}  // namespace win
}  // namespace base
