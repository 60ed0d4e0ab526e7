// What the task loops and worker pools wrap around the run of a task: its complete trace event and the heap
// profiler's task context. Each costs one flag test when nobody listens.
#ifndef BASE_THREADING_TASK_RUN_SCOPE_H_
#define BASE_THREADING_TASK_RUN_SCOPE_H_

#include "base/location.h"
#include "base/trace_event/scoped_complete_trace_event.h"

namespace base {
namespace internal {

// The run of one task: its complete event (with where the task was posted) and the heap profiler's task
// context. `bind_id` and `flags` are 0 outside a flow.
class TaskRunScope {
 public:
  TaskRunScope(const unsigned char* category_enabled, const char* name, const Location& posted_from,
               unsigned long long bind_id, unsigned int flags);
  ~TaskRunScope();
  TaskRunScope(const TaskRunScope&) = delete;
  TaskRunScope& operator=(const TaskRunScope&) = delete;

 private:
  trace_event::ScopedCompleteTraceEvent event_;
  const char* const task_context_;
  bool task_context_pushed_ = false;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_THREADING_TASK_RUN_SCOPE_H_
