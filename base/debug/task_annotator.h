// Wraps the queueing and running of tasks with the task profiler's accounting and the queue-flow trace
// events that link a task's posting to its run.
#ifndef BASE_DEBUG_TASK_ANNOTATOR_H_
#define BASE_DEBUG_TASK_ANNOTATOR_H_

#include <cstdint>

namespace base {

struct PendingTask;

namespace debug {

class TaskAnnotator {
 public:
  TaskAnnotator() = default;
  TaskAnnotator(const TaskAnnotator&) = delete;
  TaskAnnotator& operator=(const TaskAnnotator&) = delete;

  // Called with the task's sequence number set, as it is queued; `queue_function` names the queue
  // ("MessageLoop::PostTask").
  void DidQueueTask(const char* queue_function, const PendingTask& pending_task);

  // Runs the task's closure inside a profiler stopwatch and reports the run to the task profiler.
  void RunTask(const char* queue_function, const PendingTask& pending_task);

 private:
  // Links the flow event of the queueing with that of the run: the sequence number in the high half, the
  // low 32 bits of this annotator's address in the low half.
  uint64_t GetTaskTraceID(const PendingTask& task) const;
};

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_TASK_ANNOTATOR_H_
