#include "base/trace_event/scoped_complete_trace_event.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/location.h"
#include "base/trace_event/trace_log.h"
#include "base/trace_event/trace_test_util.h"

namespace base {
namespace trace_event {
namespace {

std::vector<std::string>* g_callback_calls = nullptr;

void RecordCall(TimeTicks, char phase, const unsigned char*, const char* name, const char*, unsigned long long,
                int, const char* const[], const unsigned char[], const unsigned long long[], unsigned int) {
  g_callback_calls->push_back(std::string(1, phase) + ":" + name);
}

TEST(ScopedCompleteTraceEventTest, TaskEventCarriesWhereItWasPostedAndItsFlowAndIsClosed) {
  EnableRecordingForTesting();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  const Location posted_from("PostingFunction", "posting_file.cc", 12, nullptr);
  const unsigned long long flow_id = MakeTaskFlowId(7, reinterpret_cast<const void*>(0x1234567890ull));
  EXPECT_EQ(0x0000000734567890ull, flow_id);
  { ScopedCompleteTraceEvent event(category, "Run", &posted_from, flow_id, kTaskFlowInFlags); }
  { ScopedCompleteTraceEvent event(category, "Posted", nullptr, flow_id, kTaskFlowOutFlags); }
  TraceLog::GetInstance()->SetDisabled();
  const std::vector<RecordedEvent> events = TakeRecordedEvents();

  std::vector<const RecordedEvent*> complete;
  for (const RecordedEvent& event : events) {
    if (event.phase == kTraceEventPhaseComplete)
      complete.push_back(&event);
  }
  ASSERT_EQ(2u, complete.size());
  EXPECT_EQ("Run", complete[0]->name);
  EXPECT_EQ((std::vector<std::string>{"src_file", "src_func"}), complete[0]->arg_names);
  EXPECT_EQ((std::vector<std::string>{"\"posting_file.cc\"", "\"PostingFunction\""}), complete[0]->arg_values_json);
  EXPECT_EQ(0x104u, complete[0]->flags);
  EXPECT_EQ("Posted", complete[1]->name);
  EXPECT_TRUE(complete[1]->arg_names.empty());
  EXPECT_EQ(0x204u, complete[1]->flags);
  // Both ends of the flow carry the same process-unique id.
  EXPECT_EQ(TraceLog::GetInstance()->MangleEventId(flow_id), complete[0]->bind_id);
  EXPECT_EQ(complete[0]->bind_id, complete[1]->bind_id);
  for (const RecordedEvent* event : complete) {
    EXPECT_GE(event->duration_us, 0) << event->name << " was not closed";
    EXPECT_EQ(static_cast<int>(GetCurrentThreadId()), event->thread_id);
  }
}

// Only an event that was begun is ended: a listener that arrives inside the scope hears nothing of it.
TEST(ScopedCompleteTraceEventTest, ListenerThatArrivesInsideTheScopeHearsNoLoneEnd) {
  std::vector<std::string> calls;
  g_callback_calls = &calls;
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  static const char* const kArgNames[] = {"message"};
  static const unsigned char kArgTypes[] = {kTraceValueTypeUint};
  const unsigned long long arg_values[] = {42};
  {
    ScopedCompleteTraceEvent before(category, "BeforeListening", 1, kArgNames, kArgTypes, arg_values);
    TraceLog::GetInstance()->SetEventCallbackEnabledForTesting(TraceCategoryFilter(), &RecordCall);
    ASSERT_NE(0, LoadCategoryFlags(category));
    ScopedCompleteTraceEvent after(category, "WhileListening", 1, kArgNames, kArgTypes, arg_values);
  }
  TraceLog::GetInstance()->SetEventCallbackDisabledForTesting();
  g_callback_calls = nullptr;
  EXPECT_EQ((std::vector<std::string>{"B:WhileListening", "E:WhileListening"}), calls);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
