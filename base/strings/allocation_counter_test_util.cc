#include "base/strings/allocation_counter_test_util.h"

#include <cstdlib>
#include <new>

namespace test_support {
namespace {
thread_local ScopedAllocationCounter* g_current_counter = nullptr;
}  // namespace

ScopedAllocationCounter::ScopedAllocationCounter() : previous_(g_current_counter) {
  g_current_counter = this;
}

ScopedAllocationCounter::~ScopedAllocationCounter() {
  g_current_counter = previous_;
}

void CountAllocation(size_t size) {
  if (ScopedAllocationCounter* counter = g_current_counter) {
    ++counter->count_;
    counter->last_size_ = size;
  }
}

}  // namespace test_support

// The other forms (arrays, nothrow) reach these through the standard library's defaults.
void* operator new(size_t size) {
  test_support::CountAllocation(size);
  if (void* p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  std::free(p);
}

void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
