#include "base/trace_event/trace_test_util.h"

#include <algorithm>

#include "base/json/string_escape.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/trace_buffer.h"

namespace base {
namespace trace_event {

namespace {

thread_local FakeMessageLoop* t_current_loop = nullptr;
thread_local const char* t_thread_name = nullptr;

}  // namespace

struct FakeHooks {
  static void* CurrentMessageLoop() { return t_current_loop; }
  static void AddDestructionObserver(void* loop, void (*will_destroy)(void*), void* context) {
    static_cast<FakeMessageLoop*>(loop)->observers_.push_back({will_destroy, context});
  }
  static void RemoveDestructionObserver(void* loop, void* context) {
    auto& observers = static_cast<FakeMessageLoop*>(loop)->observers_;
    observers.erase(std::remove_if(observers.begin(), observers.end(),
                                   [context](const FakeMessageLoop::Observer& o) { return o.context == context; }),
                    observers.end());
  }
  static const char* CurrentThreadName() { return t_thread_name; }
};

namespace {

const TraceLog::ThreadingHooks kFakeHooks = {
    &FakeHooks::CurrentMessageLoop, &FakeHooks::AddDestructionObserver, &FakeHooks::RemoveDestructionObserver,
    nullptr, &FakeHooks::CurrentThreadName};

}  // namespace

FakeMessageLoop::FakeMessageLoop() {
  t_current_loop = this;
}

FakeMessageLoop::~FakeMessageLoop() {
  // Observers may remove themselves while being told.
  std::vector<Observer> observers = observers_;
  for (const Observer& observer : observers)
    observer.will_destroy(observer.context);
  t_current_loop = nullptr;
}

void InstallFakeThreadingHooks() {
  TraceLog::SetThreadingHooks(&kFakeHooks);
}

void RemoveFakeThreadingHooks() {
  TraceLog::SetThreadingHooks(nullptr);
}

void SetFakeThreadName(const char* name) {
  t_thread_name = name;
}

void EnableRecordingForTesting(int trace_options) {
  TraceLog::GetInstance()->SetEnabledForTesting(TraceCategoryFilter(), trace_options);
}

std::vector<RecordedEvent> TakeRecordedEvents() {
  std::unique_ptr<TraceBuffer> buffer = TraceLog::GetInstance()->TakeTraceBufferForTesting();
  std::vector<RecordedEvent> events;
  while (const TraceBufferChunk* chunk = buffer->ChunkForIteration()) {
    for (size_t i = 0; i < chunk->size(); ++i) {
      const TraceEvent* event = chunk->GetEventAt(i);
      RecordedEvent copy;
      copy.phase = event->phase();
      copy.name = event->name() ? event->name() : "";
      copy.category = TraceLog::GetCategoryGroupName(event->category_group_enabled());
      copy.thread_id = event->thread_id();
      copy.timestamp_us = event->timestamp().ToInternalValue();
      copy.duration_us = event->duration().ToInternalValue();
      copy.id = event->id();
      copy.bind_id = event->bind_id();
      copy.flags = event->flags();
      for (int a = 0; a < kTraceMaxNumArgs && event->arg_name(a); ++a) {
        copy.arg_names.push_back(event->arg_name(a));
        std::string value;
        if (event->convertable_value(a))
          event->convertable_value(a)->AppendAsTraceFormat(&value);
        else
          TraceEvent::AppendValueAsJSON(event->arg_type(a), event->arg_value(a), &value);
        copy.arg_values_json.push_back(value);
      }
      events.push_back(copy);
    }
  }
  return events;
}

std::string RecordedEventsToJson(const std::vector<RecordedEvent>& events) {
  std::string json = "[";
  for (size_t i = 0; i < events.size(); ++i) {
    const RecordedEvent& event = events[i];
    if (i > 0)
      json += ",\n";
    json += "{\"ph\":";
    EscapeJsonStringImpl(std::string(1, event.phase), true, &json);
    json += ",\"name\":";
    EscapeJsonStringImpl(event.name, true, &json);
    json += ",\"cat\":";
    EscapeJsonStringImpl(event.category, true, &json);
    StringAppendF(&json, ",\"tid\":%d,\"ts\":%lld", event.thread_id, static_cast<long long>(event.timestamp_us));
    if (event.phase == kTraceEventPhaseComplete)
      StringAppendF(&json, ",\"dur\":%lld", static_cast<long long>(event.duration_us));
    json += ",\"args\":{";
    for (size_t a = 0; a < event.arg_names.size(); ++a) {
      if (a > 0)
        json += ",";
      EscapeJsonStringImpl(event.arg_names[a], true, &json);
      json += ":" + event.arg_values_json[a];
    }
    json += "}}";
  }
  json += "]";
  return json;
}

}  // namespace trace_event
}  // namespace base
