// Collects the trace events of chosen categories through the trace log's event callback, from any thread,
// for tests of the code that traces its tasks.
#ifndef BASE_THREADING_TRACE_RECORDING_TEST_UTIL_H_
#define BASE_THREADING_TRACE_RECORDING_TEST_UTIL_H_

#include <windows.h>

#include <string>
#include <vector>

namespace base {

struct CallbackTraceEvent {
  char phase = 0;  // a complete event arrives as 'B' and then 'E'
  std::string name;
  DWORD thread_id = 0;
  unsigned long long id = 0;
  unsigned int flags = 0;
  std::vector<std::string> arg_names;
  std::vector<std::string> string_args;  // the string arguments' texts, "" for other types
};

// While it exists, the events of `category` reach the callback and are kept. One at a time per process.
class ScopedTraceEventCollector {
 public:
  explicit ScopedTraceEventCollector(const char* category);
  ~ScopedTraceEventCollector();
  ScopedTraceEventCollector(const ScopedTraceEventCollector&) = delete;
  ScopedTraceEventCollector& operator=(const ScopedTraceEventCollector&) = delete;

  // A copy of what was collected so far.
  std::vector<CallbackTraceEvent> events() const;
  // Blocks until an event of this phase and name has been collected; returns everything collected then.
  std::vector<CallbackTraceEvent> WaitForEvent(char phase, const std::string& name) const;
};

}  // namespace base

#endif  // BASE_THREADING_TRACE_RECORDING_TEST_UTIL_H_
