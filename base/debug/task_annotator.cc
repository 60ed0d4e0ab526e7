#include "base/debug/task_annotator.h"

#include "base/debug/alias.h"
#include "base/pending_task.h"
#include "base/profiler/task_profiler.h"
#include "base/trace_event/scoped_complete_trace_event.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace debug {
namespace {

const unsigned char* FlowCategory() {
  static const unsigned char* const category =
      trace_event::TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow");
  return category;
}

}  // namespace

void TaskAnnotator::DidQueueTask(const char* queue_function, const PendingTask& pending_task) {
  trace_event::ScopedCompleteTraceEvent event(FlowCategory(), queue_function, nullptr,
                                              GetTaskTraceID(pending_task), trace_event::kTaskFlowOutFlags);
}

void TaskAnnotator::RunTask(const char* queue_function, const PendingTask& pending_task) {
  TaskStopwatch stopwatch;
  stopwatch.Start();
  const int32_t queue_duration = stopwatch.StartTime().MillisecondsSince(pending_task.EffectivePostTime());

  static const char* const kArgNames[] = {"queue_duration"};
  static const unsigned char kArgTypes[] = {trace_event::kTraceValueTypeInt};
  trace_event::TraceValue value;
  value.as_int = queue_duration;
  const unsigned long long arg_values[] = {value.as_uint};
  {
    trace_event::ScopedCompleteTraceEvent flow_event(FlowCategory(), queue_function, 1, kArgNames, kArgTypes,
                                                     arg_values, GetTaskTraceID(pending_task),
                                                     trace_event::kTaskFlowInFlags);

    // Where the task was posted, kept on the stack so that a crash dump of the run shows it.
    const void* program_counter = pending_task.posted_from.program_counter();
    DebugAlias(&program_counter);

    pending_task.task.Run();
  }

  stopwatch.Stop();
  ThreadData::TallyRunOnNamedThreadIfTracking(pending_task, stopwatch);
}

uint64_t TaskAnnotator::GetTaskTraceID(const PendingTask& task) const {
  return trace_event::MakeTaskFlowId(task.sequence_num, this);
}

}  // namespace debug
}  // namespace base
