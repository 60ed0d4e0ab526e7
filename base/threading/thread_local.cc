#include "base/threading/thread_local.h"

#include "base/logging.h"

namespace base {

void ThreadLocalPlatform::AllocateSlot(SlotType* slot) {
  *slot = TlsAlloc();
  CHECK_NE(*slot, TLS_OUT_OF_INDEXES);
}

void ThreadLocalPlatform::FreeSlot(SlotType slot) {
  TlsFree(slot);
}

void* ThreadLocalPlatform::GetValueFromSlot(SlotType slot) {
  return TlsGetValue(slot);
}

void ThreadLocalPlatform::SetValueInSlot(SlotType slot, void* value) {
  if (!TlsSetValue(slot, value))
    LOG(FATAL) << "Failed to TlsSetValue().";
}

}  // namespace base
