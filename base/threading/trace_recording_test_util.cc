#include "base/threading/trace_recording_test_util.h"

#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/trace_event/trace_category_filter.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace {

Lock g_lock;
std::vector<CallbackTraceEvent>* g_events = nullptr;
// Signalled after each collected event.
WaitableEvent* g_collected = nullptr;

void CollectEvent(TimeTicks, char phase, const unsigned char*, const char* name, const char*,
                  unsigned long long id, int num_args, const char* const arg_names[],
                  const unsigned char arg_types[], const unsigned long long arg_values[], unsigned int flags) {
  CallbackTraceEvent event;
  event.phase = phase;
  event.name = name ? name : "";
  event.thread_id = ::GetCurrentThreadId();
  event.id = id;
  event.flags = flags;
  for (int i = 0; i < num_args; ++i) {
    event.arg_names.push_back(arg_names[i]);
    const bool is_string = arg_types[i] == trace_event::kTraceValueTypeString ||
                           arg_types[i] == trace_event::kTraceValueTypeCopyString;
    const char* text = is_string ? reinterpret_cast<const char*>(static_cast<uintptr_t>(arg_values[i])) : nullptr;
    event.string_args.push_back(text ? text : "");
  }
  AutoLock lock(g_lock);
  if (g_events) {
    g_events->push_back(std::move(event));
    g_collected->Signal();
  }
}

}  // namespace

ScopedTraceEventCollector::ScopedTraceEventCollector(const char* category) {
  {
    AutoLock lock(g_lock);
    g_events = new std::vector<CallbackTraceEvent>;
    g_collected = new WaitableEvent(false, false);
  }
  trace_event::TraceCategoryFilter filter;
  if (std::string(category).rfind("disabled-by-default-", 0) == 0)
    filter.AddDisabledByDefaultCategory(category);
  else
    filter.AddIncludedCategory(category);
  trace_event::TraceLog::GetInstance()->SetEventCallbackEnabledForTesting(filter, &CollectEvent);
}

ScopedTraceEventCollector::~ScopedTraceEventCollector() {
  trace_event::TraceLog::GetInstance()->SetEventCallbackDisabledForTesting();
  AutoLock lock(g_lock);
  delete g_events;
  g_events = nullptr;
  delete g_collected;
  g_collected = nullptr;
}

std::vector<CallbackTraceEvent> ScopedTraceEventCollector::events() const {
  AutoLock lock(g_lock);
  return *g_events;
}

std::vector<CallbackTraceEvent> ScopedTraceEventCollector::WaitForEvent(char phase, const std::string& name) const {
  for (;;) {
    std::vector<CallbackTraceEvent> collected = events();
    for (const CallbackTraceEvent& event : collected) {
      if (event.phase == phase && event.name == name)
        return collected;
    }
    g_collected->Wait();
  }
}

}  // namespace base
