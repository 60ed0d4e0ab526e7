#include "base/trace_event/scoped_complete_trace_event.h"

#include <windows.h>

#include "base/time/time.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {

unsigned long long MakeTaskFlowId(int64_t number, const void* object) {
  return (static_cast<unsigned long long>(static_cast<uint32_t>(number)) << 32) |
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
}

ScopedCompleteTraceEvent::ScopedCompleteTraceEvent(const unsigned char* category_group_enabled, const char* name,
                                                   const Location* posted_from, unsigned long long bind_id,
                                                   unsigned int flags)
    : category_group_enabled_(category_group_enabled), name_(name) {
  if (!IsCategoryGroupEnabledForAnyMode(category_group_enabled_))
    return;
  static const char* const kArgNames[] = {"src_file", "src_func"};
  static const unsigned char kArgTypes[] = {kTraceValueTypeString, kTraceValueTypeString};
  unsigned long long arg_values[2] = {};
  if (posted_from) {
    arg_values[0] = reinterpret_cast<uintptr_t>(posted_from->file_name());
    arg_values[1] = reinterpret_cast<uintptr_t>(posted_from->function_name());
  }
  Open(posted_from ? 2 : 0, kArgNames, kArgTypes, arg_values, bind_id, flags);
}

ScopedCompleteTraceEvent::ScopedCompleteTraceEvent(const unsigned char* category_group_enabled, const char* name,
                                                   int num_args, const char* const* arg_names,
                                                   const unsigned char* arg_types,
                                                   const unsigned long long* arg_values, unsigned long long bind_id,
                                                   unsigned int flags)
    : category_group_enabled_(category_group_enabled), name_(name) {
  if (IsCategoryGroupEnabledForAnyMode(category_group_enabled_))
    Open(num_args, arg_names, arg_types, arg_values, bind_id, flags);
}

void ScopedCompleteTraceEvent::Open(int num_args, const char* const* arg_names, const unsigned char* arg_types,
                                    const unsigned long long* arg_values, unsigned long long bind_id,
                                    unsigned int flags) {
  opened_ = true;
  handle_ = TraceLog::GetInstance()->AddTraceEventWithThreadIdAndTimestamp(
      kTraceEventPhaseComplete, category_group_enabled_, name_, /*scope=*/nullptr, /*id=*/0, bind_id,
      static_cast<int>(GetCurrentThreadId()), TimeTicks::Now(), num_args, arg_names, arg_types, arg_values,
      /*convertable_values=*/nullptr, flags);
}

ScopedCompleteTraceEvent::~ScopedCompleteTraceEvent() {
  // Without recording the handle is empty, yet an event callback still expects the end.
  if (opened_ && LoadCategoryFlags(category_group_enabled_) != 0)
    TraceLog::GetInstance()->UpdateTraceEventDuration(category_group_enabled_, name_, handle_);
}

}  // namespace trace_event
}  // namespace base
