#include "base/threading/task_run_scope.h"

#include "base/trace_event/heap_profiler_allocation_context_tracker.h"

namespace base {
namespace internal {

TaskRunScope::TaskRunScope(const unsigned char* category_enabled, const char* name, const Location& posted_from,
                           unsigned long long bind_id, unsigned int flags)
    : event_(category_enabled, name, &posted_from, bind_id, flags), task_context_(posted_from.file_name()) {
  if (trace_event::AllocationContextTracker::capture_enabled()) {
    if (auto* tracker = trace_event::AllocationContextTracker::GetInstanceForCurrentThread()) {
      tracker->PushCurrentTaskContext(task_context_);
      task_context_pushed_ = true;
    }
  }
}

TaskRunScope::~TaskRunScope() {
  if (task_context_pushed_ && trace_event::AllocationContextTracker::capture_enabled()) {
    if (auto* tracker = trace_event::AllocationContextTracker::GetInstanceForCurrentThread())
      tracker->PopCurrentTaskContext(task_context_);
  }
}

}  // namespace internal
}  // namespace base
