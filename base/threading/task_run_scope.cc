#include "base/threading/task_run_scope.h"

#include "base/threading/platform_thread.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace internal {

unsigned long long FlowId(int64_t number, const void* object) {
  return (static_cast<unsigned long long>(static_cast<uint32_t>(number)) << 32) |
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
}

ScopedCompleteEvent::ScopedCompleteEvent(const unsigned char* category_enabled, const char* name,
                                         unsigned long long flow_id, unsigned int flags,
                                         const Location* posted_from)
    : category_enabled_(category_enabled), name_(name) {
  if (!IsTraced(category_enabled_))
    return;
  opened_ = true;
  static const char* const kArgNames[] = {"src_file", "src_func"};
  static const unsigned char kArgTypes[] = {trace_event::kTraceValueTypeString,
                                            trace_event::kTraceValueTypeString};
  unsigned long long arg_values[2] = {};
  int num_args = 0;
  if (posted_from) {
    arg_values[0] = reinterpret_cast<uintptr_t>(posted_from->file_name());
    arg_values[1] = reinterpret_cast<uintptr_t>(posted_from->function_name());
    num_args = 2;
  }
  event_ = trace_event::TraceLog::GetInstance()->AddTraceEventWithThreadIdAndTimestamp(
      trace_event::kTraceEventPhaseComplete, category_enabled_, name_, nullptr, 0, flow_id,
      static_cast<int>(PlatformThread::CurrentId()), TimeTicks::Now(), num_args, kArgNames, kArgTypes, arg_values,
      nullptr, flags);
}

ScopedCompleteEvent::~ScopedCompleteEvent() {
  // Without recording the handle is empty, yet an event callback still expects the end.
  if (opened_ && *category_enabled_ != 0)
    trace_event::TraceLog::GetInstance()->UpdateTraceEventDuration(category_enabled_, name_, event_);
}

TaskRunScope::TaskRunScope(const unsigned char* category_enabled, const char* name, const Location& posted_from,
                           unsigned long long flow_id, unsigned int flags)
    : event_(category_enabled, name, flow_id, flags, &posted_from), task_context_(posted_from.file_name()) {
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
