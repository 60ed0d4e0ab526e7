// A flag that is set once and read from any thread.
#ifndef BASE_SYNCHRONIZATION_CANCELLATION_FLAG_H_
#define BASE_SYNCHRONIZATION_CANCELLATION_FLAG_H_

#include <atomic>
#include <cstdint>

namespace base {

class CancellationFlag {
 public:
  CancellationFlag() = default;
  CancellationFlag(const CancellationFlag&) = delete;
  CancellationFlag& operator=(const CancellationFlag&) = delete;

  // What was written before Set is visible to a thread that then sees IsSet.
  void Set() { flag_.store(1, std::memory_order_release); }
  bool IsSet() const { return flag_.load(std::memory_order_acquire) != 0; }

 private:
  std::atomic<int32_t> flag_{0};
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_CANCELLATION_FLAG_H_
