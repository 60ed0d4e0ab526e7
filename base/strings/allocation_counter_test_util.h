// Counts the heap allocations (operator new) that the current thread makes while a counter is alive: the
// area's tests replace the global allocation functions to prove that a path allocates nothing, or once.
#ifndef BASE_STRINGS_ALLOCATION_COUNTER_TEST_UTIL_H_
#define BASE_STRINGS_ALLOCATION_COUNTER_TEST_UTIL_H_

#include <cstddef>

namespace test_support {

// Called by the replaced operator new.
void CountAllocation(size_t size);

class ScopedAllocationCounter {
 public:
  ScopedAllocationCounter();
  ~ScopedAllocationCounter();
  ScopedAllocationCounter(const ScopedAllocationCounter&) = delete;
  ScopedAllocationCounter& operator=(const ScopedAllocationCounter&) = delete;

  size_t count() const { return count_; }
  size_t last_size() const { return last_size_; }  // bytes asked for by the latest allocation

 private:
  friend void CountAllocation(size_t size);
  size_t count_ = 0;
  size_t last_size_ = 0;
  ScopedAllocationCounter* previous_;
};

}  // namespace test_support

#endif  // BASE_STRINGS_ALLOCATION_COUNTER_TEST_UTIL_H_
