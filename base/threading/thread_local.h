// Raw thread-local pointers: one Windows TLS index per use, no destructor at thread exit. For values that
// need cleaning up when a thread ends, use ThreadLocalStorage::Slot (thread_local_storage.h).
//
// A ThreadLocalPointer allocates its index when constructed, so a process-wide one is usually held in a lazy
// instance and made on first use.
#ifndef BASE_THREADING_THREAD_LOCAL_H_
#define BASE_THREADING_THREAD_LOCAL_H_

#include <windows.h>

namespace base {

struct ThreadLocalPlatform {
  using SlotType = DWORD;

  // Running out of indexes is fatal.
  static void AllocateSlot(SlotType* slot);
  static void FreeSlot(SlotType slot);
  static void* GetValueFromSlot(SlotType slot);
  // A failure is fatal.
  static void SetValueInSlot(SlotType slot, void* value);
};

template <typename Type>
class ThreadLocalPointer {
 public:
  ThreadLocalPointer() { ThreadLocalPlatform::AllocateSlot(&slot_); }
  ~ThreadLocalPointer() { ThreadLocalPlatform::FreeSlot(slot_); }
  ThreadLocalPointer(const ThreadLocalPointer&) = delete;
  ThreadLocalPointer& operator=(const ThreadLocalPointer&) = delete;

  Type* Get() const { return static_cast<Type*>(ThreadLocalPlatform::GetValueFromSlot(slot_)); }
  void Set(Type* pointer) { ThreadLocalPlatform::SetValueInSlot(slot_, pointer); }

 private:
  ThreadLocalPlatform::SlotType slot_;
};

// True is stored as any non-null pointer, false as null.
class ThreadLocalBoolean {
 public:
  ThreadLocalBoolean() = default;
  ThreadLocalBoolean(const ThreadLocalBoolean&) = delete;
  ThreadLocalBoolean& operator=(const ThreadLocalBoolean&) = delete;

  bool Get() const { return pointer_.Get() != nullptr; }
  void Set(bool value) { pointer_.Set(value ? this : nullptr); }

 private:
  ThreadLocalPointer<void> pointer_;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_LOCAL_H_
