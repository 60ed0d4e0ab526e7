// A complete ('X') trace event of the calling thread that spans a scope: added when the scope begins, with
// at most two arguments, and closed with its duration when the scope ends while the category still traces.
// Callers check the category's flag byte before making one, so an untraced run pays a single byte load.
#ifndef BASE_MESSAGE_LOOP_SCOPED_COMPLETE_TRACE_EVENT_H_
#define BASE_MESSAGE_LOOP_SCOPED_COMPLETE_TRACE_EVENT_H_

#include "base/trace_event/trace_event.h"

namespace base {

class ScopedCompleteTraceEvent {
 public:
  // `category_group_enabled`, `name` and the argument names and string values must outlive the event
  // (literals, or strings such as a Location's that live as long as the process).
  ScopedCompleteTraceEvent(const unsigned char* category_group_enabled, const char* name, int num_args,
                           const char* const* arg_names, const unsigned char* arg_types,
                           const unsigned long long* arg_values);
  ~ScopedCompleteTraceEvent();
  ScopedCompleteTraceEvent(const ScopedCompleteTraceEvent&) = delete;
  ScopedCompleteTraceEvent& operator=(const ScopedCompleteTraceEvent&) = delete;

 private:
  const unsigned char* category_group_enabled_;
  const char* name_;
  trace_event::TraceEventHandle handle_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_SCOPED_COMPLETE_TRACE_EVENT_H_
