// ScopedLocalMemory owns one block the system allocated with LocalAlloc for its caller (security descriptors,
// their texts, SIDs, split command lines, ...) and frees it with LocalFree on Close, on Set of another block or
// when it goes. Header only: the host, which links no base library, uses it too.
#ifndef BASE_WIN_SCOPED_LOCAL_MEMORY_H_
#define BASE_WIN_SCOPED_LOCAL_MEMORY_H_

#include <windows.h>

namespace base {
namespace win {

template <class T = void>
class ScopedLocalMemory {
 public:
  ScopedLocalMemory() = default;
  explicit ScopedLocalMemory(T* memory) : memory_(memory) {}
  ScopedLocalMemory(ScopedLocalMemory&& other) noexcept : memory_(other.Take()) {}
  ScopedLocalMemory& operator=(ScopedLocalMemory&& other) noexcept {
    Set(other.Take());
    return *this;
  }
  ScopedLocalMemory(const ScopedLocalMemory&) = delete;
  ScopedLocalMemory& operator=(const ScopedLocalMemory&) = delete;
  ~ScopedLocalMemory() { Close(); }

  bool IsValid() const { return memory_ != nullptr; }
  T* Get() const { return memory_; }

  // Frees the held block and takes `memory`; nothing happens when it is the held one.
  void Set(T* memory) {
    if (memory == memory_)
      return;
    if (memory_)
      LocalFree(const_cast<void*>(static_cast<const void*>(memory_)));
    memory_ = memory;
  }
  // Gives up the block without freeing it.
  [[nodiscard]] T* Take() {
    T* memory = memory_;
    memory_ = nullptr;
    return memory;
  }
  // Frees the held block (if any).
  void Close() { Set(nullptr); }
  // For an out-parameter: frees the held block, then the callee fills the holder.
  T** Receive() {
    Close();
    return &memory_;
  }

 private:
  T* memory_ = nullptr;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_LOCAL_MEMORY_H_
