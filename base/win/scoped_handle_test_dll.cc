// A DLL that holds handles with its own copy of ScopedHandle, loaded at run time by the handle verifier
// tests: it uses whatever verifier its first use chooses (the main executable's, or its own).
#include <windows.h>

#include "base/win/scoped_handle.h"
#include "base/win/scoped_handle_verifier.h"

extern "C" {

// Holds `handle` until TestDllReleaseHolder; returns the holder.
__declspec(dllexport) void* TestDllHoldHandle(HANDLE handle) {
  return new base::win::ScopedHandle(handle);
}

__declspec(dllexport) void TestDllReleaseHolder(void* holder) {
  delete static_cast<base::win::ScopedHandle*>(holder);
}

// Registers `handle` with two holders, then lets the second give it up and the first close it.
__declspec(dllexport) void TestDllRegisterTwiceThenClose(HANDLE handle) {
  base::win::ScopedHandle first(handle);
  base::win::ScopedHandle second(handle);
  (void)second.Take();
}

// Closes a held handle behind its holder's back, then lets the holder close it.
__declspec(dllexport) void TestDllCloseBehindHoldersBack() {
  base::win::ScopedHandle holder(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ::CloseHandle(holder.Get());
  holder.Close();
}

}  // extern "C"
