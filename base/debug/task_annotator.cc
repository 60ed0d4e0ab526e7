#include "base/debug/task_annotator.h"

#include "base/debug/alias.h"
#include "base/pending_task.h"
#include "base/tracked_objects.h"

namespace base {
namespace debug {

void TaskAnnotator::DidQueueTask(const char* queue_function, const PendingTask& pending_task) {
  (void)queue_function;
  (void)pending_task;
}

void TaskAnnotator::RunTask(const char* queue_function, const PendingTask& pending_task) {
  (void)queue_function;
  TaskStopwatch stopwatch;
  stopwatch.Start();

  // Where the task was posted, kept on the stack so that a crash dump of the run shows it.
  const void* program_counter = pending_task.posted_from.program_counter();
  DebugAlias(&program_counter);

  pending_task.task.Run();

  stopwatch.Stop();
  ThreadData::TallyRunOnNamedThreadIfTracking(pending_task, stopwatch);
}

uint64_t TaskAnnotator::GetTaskTraceID(const PendingTask& task) const {
  return (static_cast<uint64_t>(static_cast<uint32_t>(task.sequence_num)) << 32) |
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this));
}

}  // namespace debug
}  // namespace base
