// What the worker pools wrap around each task they run: a complete trace event carrying the task's posting
// file and function, and the heap profiler's task context. Both cost one flag test when nobody listens.
#ifndef BASE_THREADING_TASK_RUN_SCOPE_H_
#define BASE_THREADING_TASK_RUN_SCOPE_H_

#include "base/location.h"
#include "base/trace_event/trace_event.h"

namespace base {
namespace internal {

// The bits of a category's flag byte that mean someone takes its events: recording, an event callback, the
// system event export.
constexpr unsigned char kTracedCategoryBits = 1 | 4 | 8;

inline bool IsTraced(const unsigned char* category_enabled) {
  return (*category_enabled & kTracedCategoryBits) != 0;
}

// A flow identifier: `number` in the high half, the low 32 bits of `object`'s address in the low half.
unsigned long long FlowId(int64_t number, const void* object);

class TaskRunScope {
 public:
  // `category_enabled` is the cached flag byte of the event's category; `flow_id` and `flags` are those of
  // the event (0 for an event outside any flow).
  TaskRunScope(const unsigned char* category_enabled, const char* name, const Location& posted_from,
               unsigned long long flow_id, unsigned int flags);
  ~TaskRunScope();
  TaskRunScope(const TaskRunScope&) = delete;
  TaskRunScope& operator=(const TaskRunScope&) = delete;

 private:
  const unsigned char* const category_enabled_;
  const char* const name_;
  const char* const task_context_;
  trace_event::TraceEventHandle event_;
  bool event_opened_ = false;
  bool task_context_pushed_ = false;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_THREADING_TASK_RUN_SCOPE_H_
