#include "base/threading/thread_local_storage.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "base/logging.h"
#include "base/threading/thread_local.h"

namespace base {
namespace {

constexpr int kVectorSize = ThreadLocalStorage::kThreadLocalStorageSize;

// The one Windows TLS index that holds each thread's vector; published once by compare-and-swap.
std::atomic<DWORD> g_native_tls_key{TLS_OUT_OF_INDEXES};

// The last slot number handed out (0: none yet).
std::atomic<int> g_last_used_tls_key{0};

// Entry n is the destructor of slot n, written before slot n is used by anyone.
std::atomic<ThreadLocalStorage::TLSDestructorFunc> g_tls_destructors[kVectorSize];

// Creates the calling thread's vector (and the process's TLS index when missing) and returns it.
void** ConstructTlsVector() {
  DWORD key = g_native_tls_key.load(std::memory_order_acquire);
  if (key == TLS_OUT_OF_INDEXES) {
    // TlsAlloc reports failure as TLS_OUT_OF_INDEXES, which is therefore never a valid index: allocating
    // fails fatally before the marker value could be taken for a real index.
    DWORD new_key;
    ThreadLocalPlatform::AllocateSlot(&new_key);
    if (g_native_tls_key.compare_exchange_strong(key, new_key, std::memory_order_acq_rel,
                                                 std::memory_order_acquire)) {
      key = new_key;
    } else {
      // Another thread published its index first: use that one.
      ThreadLocalPlatform::FreeSlot(new_key);
    }
  }
  CHECK(!ThreadLocalPlatform::GetValueFromSlot(key));

  // Any code that the allocation below re-enters (and that uses a slot) finds this stack copy.
  void* stack_vector[kVectorSize] = {};
  ThreadLocalPlatform::SetValueInSlot(key, stack_vector);
  void** heap_vector = new void*[kVectorSize];
  memcpy(heap_vector, stack_vector, sizeof(stack_vector));
  ThreadLocalPlatform::SetValueInSlot(key, heap_vector);
  return heap_vector;
}

void** GetOrCreateTlsVector() {
  const DWORD key = g_native_tls_key.load(std::memory_order_acquire);
  if (key != TLS_OUT_OF_INDEXES) {
    if (void** vector = static_cast<void**>(ThreadLocalPlatform::GetValueFromSlot(key)))
      return vector;
  }
  return ConstructTlsVector();
}

void OnThreadExit() {
  const DWORD key = g_native_tls_key.load(std::memory_order_acquire);
  if (key == TLS_OUT_OF_INDEXES)
    return;
  void** heap_vector = static_cast<void**>(ThreadLocalPlatform::GetValueFromSlot(key));
  if (!heap_vector)
    return;  // this thread never used a slot

  // Destructors may use slots (even their own): they see this stack copy. No allocator is used after the
  // heap vector is gone.
  void* stack_vector[kVectorSize];
  memcpy(stack_vector, heap_vector, sizeof(stack_vector));
  ThreadLocalPlatform::SetValueInSlot(key, stack_vector);
  delete[] heap_vector;

  // From the last slot handed out down to slot 1, so the first-made slot is destroyed last. A slot number
  // that a failed Initialize counted past the end has no entry.
  for (int pass = 0; pass < ThreadLocalStorage::kMaxDestructorPasses; ++pass) {
    bool called_destructor = false;
    int last_slot = g_last_used_tls_key.load(std::memory_order_acquire);
    if (last_slot >= kVectorSize)
      last_slot = kVectorSize - 1;
    for (int slot = last_slot; slot > 0; --slot) {
      void* value = stack_vector[slot];
      if (!value)
        continue;
      ThreadLocalStorage::TLSDestructorFunc destructor = g_tls_destructors[slot].load(std::memory_order_acquire);
      if (!destructor)
        continue;
      // Cleared first: a destructor that stores into its own slot is called again in the next pass instead
      // of looping here forever.
      stack_vector[slot] = nullptr;
      destructor(value);
      called_destructor = true;
    }
    if (!called_destructor)
      break;
  }
  ThreadLocalPlatform::SetValueInSlot(key, nullptr);
}

// The module's TLS callback: the loader calls it for every thread that ends while the module is loaded,
// and for the thread that unloads the module or ends the process.
void NTAPI OnThreadExitCallback(PVOID /*module*/, DWORD reason, PVOID /*reserved*/) {
  if (reason == DLL_THREAD_DETACH || reason == DLL_PROCESS_DETACH)
    OnThreadExit();
}

}  // namespace

// The C runtime's TLS directory calls every pointer in the sorted ".CRT$XL?" sections. This one sits in the
// same object as the slots, so every module that uses a slot links it in; "B" sorts it before the runtime's
// own callbacks, so destructors run while the thread's C and threading runtime state still exists.
extern "C" {
__attribute__((section(".CRT$XLB"), used)) PIMAGE_TLS_CALLBACK base_thread_local_storage_callback =
    OnThreadExitCallback;
}

void ThreadLocalStorage::Slot::Initialize(TLSDestructorFunc destructor) {
  const DWORD key = g_native_tls_key.load(std::memory_order_acquire);
  if (key == TLS_OUT_OF_INDEXES || !ThreadLocalPlatform::GetValueFromSlot(key))
    ConstructTlsVector();

  const int slot = g_last_used_tls_key.fetch_add(1, std::memory_order_acq_rel) + 1;
  CHECK_LT(slot, kVectorSize) << "No thread-local storage slot left";
  g_tls_destructors[slot].store(destructor, std::memory_order_release);
  slot_ = slot;
  initialized_ = true;
}

void* ThreadLocalStorage::Slot::Get() const {
  DCHECK(initialized_);
  return GetOrCreateTlsVector()[slot_];
}

void ThreadLocalStorage::Slot::Set(void* value) {
  DCHECK(initialized_);
  GetOrCreateTlsVector()[slot_] = value;
}

}  // namespace base
