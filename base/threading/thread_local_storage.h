// Thread-local slots with destructors: up to 255 slots share one Windows TLS index, and when a thread ends,
// each slot's destructor is called with that thread's non-null value (through this module's TLS callback,
// also in a DLL that was loaded at run time).
//
//   ThreadLocalStorage::Slot slot;          // a process-wide object, zero-initialised
//   slot.Initialize(&DeleteTracker);        // once, before any thread uses it
//   slot.Set(new Tracker);                  // per thread; DeleteTracker(value) runs when the thread ends
#ifndef BASE_THREADING_THREAD_LOCAL_STORAGE_H_
#define BASE_THREADING_THREAD_LOCAL_STORAGE_H_

namespace base {

class ThreadLocalStorage {
 public:
  // Called at thread exit with the slot's value, on the ending thread.
  using TLSDestructorFunc = void (*)(void* value);

  // Entries of each thread's vector; slot numbers run from 1 to kThreadLocalStorageSize - 1.
  static constexpr int kThreadLocalStorageSize = 256;
  // A destructor may store a value again; the destructors are run again for it, this many passes at most.
  static constexpr int kMaxDestructorPasses = 256;

  class Slot {
   public:
    constexpr Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    // Takes the next slot number of the process (running out is fatal) and records the destructor (or
    // null for none). Slot numbers are never given back.
    void Initialize(TLSDestructorFunc destructor);
    bool initialized() const { return initialized_; }

    // The calling thread's value (null until set on this thread).
    void* Get() const;
    void Set(void* value);

   private:
    bool initialized_ = false;
    int slot_ = 0;
  };

  ThreadLocalStorage() = delete;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_LOCAL_STORAGE_H_
