#include "base/debug/task_annotator.h"

#include <windows.h>

#include "base/debug/alias.h"
#include "base/pending_task.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_log.h"
#include "base/tracked_objects.h"

namespace base {
namespace debug {
namespace {

constexpr uint32_t kFlowOutFlags = trace_event::kTraceEventFlagMangleId | trace_event::kTraceEventFlagFlowOut;
constexpr uint32_t kFlowInFlags = trace_event::kTraceEventFlagMangleId | trace_event::kTraceEventFlagFlowIn;

const unsigned char* FlowCategory() {
  static const unsigned char* const category =
      trace_event::TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow");
  return category;
}

// Closes a complete event at the end of the scope, unless tracing was switched off meanwhile.
class ScopedCompleteEvent {
 public:
  ScopedCompleteEvent(const unsigned char* category, const char* name, trace_event::TraceEventHandle handle)
      : category_(category), name_(name), handle_(handle) {}
  ~ScopedCompleteEvent() {
    if (trace_event::LoadCategoryFlags(category_))
      trace_event::TraceLog::GetInstance()->UpdateTraceEventDuration(category_, name_, handle_);
  }
  ScopedCompleteEvent(const ScopedCompleteEvent&) = delete;
  ScopedCompleteEvent& operator=(const ScopedCompleteEvent&) = delete;

 private:
  const unsigned char* category_;
  const char* name_;
  trace_event::TraceEventHandle handle_;
};

}  // namespace

void TaskAnnotator::DidQueueTask(const char* queue_function, const PendingTask& pending_task) {
  const unsigned char* category = FlowCategory();
  if (!trace_event::IsCategoryGroupEnabledForAnyMode(category))
    return;
  ScopedCompleteEvent event(
      category, queue_function,
      trace_event::AddTraceEventWithBindId(trace_event::kTraceEventPhaseComplete, category, queue_function,
                                           nullptr, 0, trace_event::TraceEventFlags(kFlowOutFlags),
                                           trace_event::TraceBindId(GetTaskTraceID(pending_task))));
}

void TaskAnnotator::RunTask(const char* queue_function, const PendingTask& pending_task) {
  TaskStopwatch stopwatch;
  stopwatch.Start();
  // A delayed task has waited in the queue only since it was due.
  const TrackedTime effective_post_time = pending_task.delayed_run_time.is_null()
                                              ? pending_task.time_posted
                                              : TrackedTime(pending_task.delayed_run_time);
  const int32_t queue_duration = stopwatch.StartTime().MillisecondsSince(effective_post_time);

  const unsigned char* category = FlowCategory();
  trace_event::TraceEventHandle flow_handle;
  if (trace_event::IsCategoryGroupEnabledForAnyMode(category)) {
    static const char* const kArgNames[] = {"queue_duration"};
    static const unsigned char kArgTypes[] = {trace_event::kTraceValueTypeInt};
    trace_event::TraceValue value;
    value.as_int = queue_duration;
    const unsigned long long arg_values[] = {value.as_uint};
    flow_handle = trace_event::TraceLog::GetInstance()->AddTraceEventWithThreadIdAndTimestamp(
        trace_event::kTraceEventPhaseComplete, category, queue_function, nullptr, 0,
        GetTaskTraceID(pending_task), static_cast<int>(GetCurrentThreadId()), TimeTicks::Now(), 1, kArgNames,
        kArgTypes, arg_values, nullptr, kFlowInFlags);
  }
  {
    ScopedCompleteEvent flow_event(category, queue_function, flow_handle);

    // Where the task was posted, kept on the stack so that a crash dump of the run shows it.
    const void* program_counter = pending_task.posted_from.program_counter();
    DebugAlias(&program_counter);

    pending_task.task.Run();
  }

  stopwatch.Stop();
  ThreadData::TallyRunOnNamedThreadIfTracking(pending_task, stopwatch);
}

uint64_t TaskAnnotator::GetTaskTraceID(const PendingTask& task) const {
  return (static_cast<uint64_t>(static_cast<uint32_t>(task.sequence_num)) << 32) |
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this));
}

}  // namespace debug
}  // namespace base
