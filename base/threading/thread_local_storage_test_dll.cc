// A DLL with one thread-local slot, loaded at run time by the thread-local storage tests.
#include <windows.h>

#include "base/threading/thread_local_storage.h"

namespace {
base::ThreadLocalStorage::Slot g_slot;
}  // namespace

extern "C" {

__declspec(dllexport) void TestDllInitializeSlot(base::ThreadLocalStorage::TLSDestructorFunc destructor) {
  g_slot.Initialize(destructor);
}

__declspec(dllexport) void TestDllSetValue(void* value) {
  g_slot.Set(value);
}

__declspec(dllexport) void* TestDllGetValue() {
  return g_slot.Get();
}

}  // extern "C"
