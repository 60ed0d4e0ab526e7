#include "base/debug/stack_trace.h"

#include <windows.h>

namespace base {
namespace debug {

StackTrace::StackTrace() {
  count_ = RtlCaptureStackBackTrace(0, kMaxTraces, trace_, nullptr);
}

const void* const* StackTrace::Addresses(size_t* count) const {
  *count = count_;
  return trace_;
}

}  // namespace debug
}  // namespace base
