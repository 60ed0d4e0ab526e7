#include "base/message_loop/scoped_complete_trace_event.h"

#include <windows.h>

#include "base/time/time.h"
#include "base/trace_event/trace_log.h"

namespace base {

ScopedCompleteTraceEvent::ScopedCompleteTraceEvent(const unsigned char* category_group_enabled, const char* name,
                                                   int num_args, const char* const* arg_names,
                                                   const unsigned char* arg_types,
                                                   const unsigned long long* arg_values)
    : category_group_enabled_(category_group_enabled), name_(name) {
  handle_ = trace_event::TraceLog::GetInstance()->AddTraceEventWithThreadIdAndTimestamp(
      trace_event::kTraceEventPhaseComplete, category_group_enabled, name, /*scope=*/nullptr, /*id=*/0,
      /*bind_id=*/0, static_cast<int>(GetCurrentThreadId()), TimeTicks::Now(), num_args, arg_names, arg_types,
      arg_values, /*convertable_values=*/nullptr, trace_event::kTraceEventFlagNone);
}

ScopedCompleteTraceEvent::~ScopedCompleteTraceEvent() {
  if (trace_event::LoadCategoryFlags(category_group_enabled_) != 0)
    trace_event::TraceLog::GetInstance()->UpdateTraceEventDuration(category_group_enabled_, name_, handle_);
}

}  // namespace base
