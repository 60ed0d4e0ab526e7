// A complete ('X') trace event of the calling thread that spans a scope: added when the scope begins, if its
// category traces then (one byte load otherwise), and closed with its duration when the scope ends while the
// category still traces. Task events carry where the task was posted ("src_file", "src_func"); the events
// of a task's posting and of its run are joined by a flow id.
//
//   static const unsigned char* const category = TraceLog::GetCategoryGroupEnabled("toplevel");
//   ScopedCompleteTraceEvent event(category, "MessageLoop::RunTask", &pending_task.posted_from);
#ifndef BASE_TRACE_EVENT_SCOPED_COMPLETE_TRACE_EVENT_H_
#define BASE_TRACE_EVENT_SCOPED_COMPLETE_TRACE_EVENT_H_

#include <cstdint>

#include "base/location.h"
#include "base/trace_event/trace_event.h"

namespace base {
namespace trace_event {

// Flags of the flow events that link a task's posting (out) to its run (in); the id is made unique to the
// process.
constexpr unsigned int kTaskFlowOutFlags = kTraceEventFlagMangleId | kTraceEventFlagFlowOut;
constexpr unsigned int kTaskFlowInFlags = kTraceEventFlagMangleId | kTraceEventFlagFlowIn;

// A flow id: `number` in the high half, the low 32 bits of `object`'s address (the queue) in the low half.
unsigned long long MakeTaskFlowId(int64_t number, const void* object);

class ScopedCompleteTraceEvent {
 public:
  // With `posted_from`, the event carries the posting file and function. `bind_id` and `flags` are 0
  // outside a flow. `category_group_enabled`, `name` and the location's strings must outlive the event.
  ScopedCompleteTraceEvent(const unsigned char* category_group_enabled, const char* name,
                           const Location* posted_from = nullptr, unsigned long long bind_id = 0,
                           unsigned int flags = kTraceEventFlagNone);
  // At most two arguments; names and string values must outlive the event.
  ScopedCompleteTraceEvent(const unsigned char* category_group_enabled, const char* name, int num_args,
                           const char* const* arg_names, const unsigned char* arg_types,
                           const unsigned long long* arg_values, unsigned long long bind_id = 0,
                           unsigned int flags = kTraceEventFlagNone);
  ~ScopedCompleteTraceEvent();
  ScopedCompleteTraceEvent(const ScopedCompleteTraceEvent&) = delete;
  ScopedCompleteTraceEvent& operator=(const ScopedCompleteTraceEvent&) = delete;

 private:
  void Open(int num_args, const char* const* arg_names, const unsigned char* arg_types,
            const unsigned long long* arg_values, unsigned long long bind_id, unsigned int flags);

  const unsigned char* const category_group_enabled_;
  const char* const name_;
  TraceEventHandle handle_;
  // Only an event that was added is closed: a category switched on meanwhile must not see an end alone.
  bool opened_ = false;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_SCOPED_COMPLETE_TRACE_EVENT_H_
