// The return addresses of the current thread's stack, captured when the object is made: kept as evidence
// (for example in a crash dump) of where something happened.
#ifndef BASE_DEBUG_STACK_TRACE_H_
#define BASE_DEBUG_STACK_TRACE_H_

#include <cstddef>

namespace base {
namespace debug {

class StackTrace {
 public:
  // The most frames the system's back-trace capture takes in one call.
  static constexpr size_t kMaxTraces = 62;

  // Captures the calling thread's stack, skipping no frames (the innermost address lies in this constructor).
  StackTrace();

  // The captured return addresses, innermost first.
  const void* const* Addresses(size_t* count) const;

 private:
  void* trace_[kMaxTraces];
  size_t count_;
};

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_STACK_TRACE_H_
