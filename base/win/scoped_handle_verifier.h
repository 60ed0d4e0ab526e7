// The process-wide handle verifier: every handle held by a ScopedHandle is registered here while it is held,
// and misuse stops the process at once (BreakDebugger) with the evidence in local variables for the crash
// dump: a handle registered twice, released by a holder that did not register it, closed behind its
// holder's back, or failing to close.
//
// One verifier serves every module of the process: each module exports GetHandleVerifier, and on first use a
// module adopts the verifier of the main executable's export. A main executable without the export leaves
// every module with a disabled verifier (closing is still checked); an executable that has it must link its
// own verifier, never forward to a DLL's (the DLL would ask the executable back).
#ifndef BASE_WIN_SCOPED_HANDLE_VERIFIER_H_
#define BASE_WIN_SCOPED_HANDLE_VERIFIER_H_

#include <windows.h>

#include <cstddef>

namespace base {
namespace win {

// Modules call each other's verifier through this table: the order of the methods is an interface between
// modules and must not change. The verifier is never destroyed.
class ActiveVerifier {
 public:
  // Closes the handle. A failed close stops the process, except for a process handle protected from
  // closing, for which it returns false.
  virtual bool CloseHandle(HANDLE handle) = 0;
  // `owner` is the holder; `pc1` and `pc2` are its caller and the place of the call.
  virtual void StartTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2) = 0;
  virtual void StopTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2) = 0;
  virtual void Disable() = 0;
  // Stops the process when the handle is registered and the close is not the verifier's own.
  virtual void OnHandleBeingClosed(HANDLE handle) = 0;
  // The base address of the module that made this verifier.
  virtual HMODULE GetModule() const = 0;

  // The process's verifier, chosen (made or adopted from the main executable) on first use.
  static ActiveVerifier* Get();

 protected:
  ActiveVerifier() = default;
  ~ActiveVerifier() = default;
};

// For code that closes a raw handle itself: stops the process when a ScopedHandle still holds it.
void OnHandleBeingClosed(HANDLE handle);

// For leak tests: how many handles the process's verifier tracks now. 0 when tracking is off or when this
// module adopted another module's verifier.
size_t GetTrackedHandleCountForTesting();

}  // namespace win
}  // namespace base

// The export that shares the verifier between modules (plain C name).
extern "C" __declspec(dllexport) base::win::ActiveVerifier* GetHandleVerifier();

#endif  // BASE_WIN_SCOPED_HANDLE_VERIFIER_H_
