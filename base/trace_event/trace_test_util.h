// Helpers of the trace tests: reading back what the log recorded, a JSON rendering of it, and a stand-in for
// the message-loop layer that the log's threading hooks would otherwise reach.
#ifndef BASE_TRACE_EVENT_TRACE_TEST_UTIL_H_
#define BASE_TRACE_EVENT_TRACE_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {

// A copy of one recorded event.
struct RecordedEvent {
  char phase = 0;
  std::string name;
  std::string category;
  int thread_id = 0;
  int64_t timestamp_us = 0;
  int64_t duration_us = -1;
  unsigned long long id = 0;
  unsigned long long bind_id = 0;
  unsigned int flags = 0;
  std::vector<std::string> arg_names;
  std::vector<std::string> arg_values_json;  // as the event renders them
};

// Hands the log's buffer over (leaving a fresh one) and copies every recorded event, chunk by chunk.
std::vector<RecordedEvent> TakeRecordedEvents();

// The events as a JSON array of {"ph", "name", "cat", "tid", "ts", "dur" (complete events), "args"}.
std::string RecordedEventsToJson(const std::vector<RecordedEvent>& events);

// Switches recording on for every default-enabled category.
void EnableRecordingForTesting(int trace_options = kTraceRecordUntilFull);

// A thread's message loop as the log sees it through its hooks: made on the thread, destroyed on it.
class FakeMessageLoop {
 public:
  FakeMessageLoop();
  ~FakeMessageLoop();
  FakeMessageLoop(const FakeMessageLoop&) = delete;
  FakeMessageLoop& operator=(const FakeMessageLoop&) = delete;

  size_t destruction_observer_count() const { return observers_.size(); }

 private:
  friend struct FakeHooks;
  struct Observer {
    void (*will_destroy)(void*);
    void* context;
  };
  std::vector<Observer> observers_;
};

// Installs hooks that answer with the calling thread's FakeMessageLoop and its fake thread name.
void InstallFakeThreadingHooks();
void RemoveFakeThreadingHooks();
// The name the hooks report for the calling thread; `name` must outlive its use (pass literals).
void SetFakeThreadName(const char* name);

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_TEST_UTIL_H_
