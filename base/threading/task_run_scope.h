// What the worker pools wrap around their tasks: complete trace events (the posting and the run of a task,
// joined by a flow id) and, around a run, the heap profiler's task context. Each costs one flag test when
// nobody listens.
#ifndef BASE_THREADING_TASK_RUN_SCOPE_H_
#define BASE_THREADING_TASK_RUN_SCOPE_H_

#include <cstdint>

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

// Flags of the flow events that link a task's posting (out) to its run (in).
constexpr unsigned int kFlowOutFlags = 0x204;
constexpr unsigned int kFlowInFlags = 0x104;

// A flow identifier: `number` in the high half, the low 32 bits of `object`'s address in the low half.
unsigned long long FlowId(int64_t number, const void* object);

// A complete event open for the life of the scope. `category_enabled` is the cached flag byte of its
// category; `flow_id` and `flags` are 0 outside a flow. With `posted_from`, the event carries the posting
// file and function as "src_file" and "src_func".
class ScopedCompleteEvent {
 public:
  ScopedCompleteEvent(const unsigned char* category_enabled, const char* name, unsigned long long flow_id,
                      unsigned int flags, const Location* posted_from);
  ~ScopedCompleteEvent();
  ScopedCompleteEvent(const ScopedCompleteEvent&) = delete;
  ScopedCompleteEvent& operator=(const ScopedCompleteEvent&) = delete;

 private:
  const unsigned char* const category_enabled_;
  const char* const name_;
  trace_event::TraceEventHandle event_;
  bool opened_ = false;
};

// The run of one task: its complete event and the heap profiler's task context.
class TaskRunScope {
 public:
  TaskRunScope(const unsigned char* category_enabled, const char* name, const Location& posted_from,
               unsigned long long flow_id, unsigned int flags);
  ~TaskRunScope();
  TaskRunScope(const TaskRunScope&) = delete;
  TaskRunScope& operator=(const TaskRunScope&) = delete;

 private:
  ScopedCompleteEvent event_;
  const char* const task_context_;
  bool task_context_pushed_ = false;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_THREADING_TASK_RUN_SCOPE_H_
