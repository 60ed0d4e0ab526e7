#include "base/win/scoped_handle.h"

#include "base/location.h"
#include "base/win/scoped_handle_verifier.h"

namespace base {
namespace win {

bool HandleTraits::CloseHandle(HANDLE handle) {
  return ActiveVerifier::Get()->CloseHandle(handle);
}

void VerifierTraits::StartTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2) {
  ActiveVerifier::Get()->StartTracking(handle, owner, pc1, pc2);
}

void VerifierTraits::StopTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2) {
  ActiveVerifier::Get()->StopTracking(handle, owner, pc1, pc2);
}

ScopedHandle& ScopedHandle::operator=(ScopedHandle&& other) noexcept {
  if (this != &other)
    Set(other.Take());
  return *this;
}

__attribute__((noinline)) void ScopedHandle::Set(HANDLE handle) {
  if (handle_ == handle)
    return;
  const DWORD last_error = GetLastError();
  if (IsValid()) {
    VerifierTraits::StopTracking(handle_, this, __builtin_return_address(0), GetProgramCounter());
    HandleTraits::CloseHandle(handle_);
    handle_ = nullptr;
  }
  if (HandleTraits::IsHandleValid(handle)) {
    handle_ = handle;
    VerifierTraits::StartTracking(handle, this, __builtin_return_address(0), GetProgramCounter());
  }
  SetLastError(last_error);
}

__attribute__((noinline)) HANDLE ScopedHandle::Take() {
  HANDLE handle = handle_;
  if (IsValid())
    VerifierTraits::StopTracking(handle, this, __builtin_return_address(0), GetProgramCounter());
  handle_ = nullptr;
  return handle;
}

__attribute__((noinline)) void ScopedHandle::Close() {
  if (!IsValid())
    return;
  VerifierTraits::StopTracking(handle_, this, __builtin_return_address(0), GetProgramCounter());
  HandleTraits::CloseHandle(handle_);
  handle_ = nullptr;
}


}  // namespace win
}  // namespace base
