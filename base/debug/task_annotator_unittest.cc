#include "base/debug/task_annotator.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/pending_task.h"
#include "base/profiler/task_profiler.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_category_filter.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace debug {
namespace {

constexpr char kQueueFunction[] = "MessageLoop::PostTask";

struct FlowEvent {
  char phase;
  unsigned long long id;
  unsigned long long bind_id;
  unsigned int flags;
  int64_t duration_us;
  std::vector<std::string> arg_names;
  std::vector<long long> int_args;
};

std::vector<FlowEvent> TakeFlowEvents() {
  std::unique_ptr<trace_event::TraceBuffer> buffer =
      trace_event::TraceLog::GetInstance()->TakeTraceBufferForTesting();
  std::vector<FlowEvent> events;
  while (const trace_event::TraceBufferChunk* chunk = buffer->ChunkForIteration()) {
    for (size_t i = 0; i < chunk->size(); ++i) {
      const trace_event::TraceEvent* event = chunk->GetEventAt(i);
      if (!event->name() || std::string(event->name()) != kQueueFunction)
        continue;
      FlowEvent copy{event->phase(), event->id(), event->bind_id(), event->flags(),
                     event->duration().ToInternalValue(), {}, {}};
      for (int a = 0; a < trace_event::kTraceMaxNumArgs && event->arg_name(a); ++a) {
        copy.arg_names.push_back(event->arg_name(a));
        copy.int_args.push_back(event->arg_value(a).as_int);
      }
      events.push_back(copy);
    }
  }
  return events;
}

void EnableFlowTracing() {
  trace_event::TraceCategoryFilter filter;
  filter.AddDisabledByDefaultCategory("disabled-by-default-toplevel.flow");
  trace_event::TraceLog::GetInstance()->SetEnabledForTesting(filter, trace_event::kTraceRecordUntilFull);
}

void Increment(int* runs) {
  ++*runs;
}

TEST(TaskAnnotatorTest, QueueingAndRunningAreLinkedByOneFlowId) {
  EnableFlowTracing();
  int runs = 0;
  TaskAnnotator annotator;
  PendingTask task(FROM_HERE, Bind(&Increment, &runs), TimeTicks(), true);
  task.sequence_num = -2;  // the high half of the id is its 32 bits as they are
  annotator.DidQueueTask(kQueueFunction, task);
  annotator.RunTask(kQueueFunction, task);
  EXPECT_EQ(1, runs);

  const std::vector<FlowEvent> events = TakeFlowEvents();
  ASSERT_EQ(2u, events.size());
  // The log makes the id process-unique; unmangled it is the sequence number over the annotator's address.
  const unsigned long long expected_id = trace_event::TraceLog::GetInstance()->MangleEventId(
      (0xFFFFFFFEull << 32) | (reinterpret_cast<uintptr_t>(&annotator) & 0xFFFFFFFFull));
  EXPECT_EQ(trace_event::kTraceEventPhaseComplete, events[0].phase);
  EXPECT_EQ(0x204u, events[0].flags);
  EXPECT_EQ(expected_id, events[0].bind_id);
  EXPECT_TRUE(events[0].arg_names.empty());
  EXPECT_GE(events[0].duration_us, 0) << "the queueing event is closed";

  EXPECT_EQ(trace_event::kTraceEventPhaseComplete, events[1].phase);
  EXPECT_EQ(0x104u, events[1].flags);
  EXPECT_EQ(expected_id, events[1].bind_id);
  ASSERT_EQ(1u, events[1].arg_names.size());
  EXPECT_EQ("queue_duration", events[1].arg_names[0]);
  EXPECT_EQ(0, events[1].int_args[0]) << "profiling is off: no posting time";
  EXPECT_GE(events[1].duration_us, 0) << "the run event is closed after the task";
}

TEST(TaskAnnotatorTest, QueueDurationOfADelayedTaskCountsFromItsDueTime) {
  ThreadData::Initialize();
  EnableFlowTracing();
  int runs = 0;
  TaskAnnotator annotator;
  const TimeTicks due = TimeTicks::Now() - TimeDelta::FromMilliseconds(40);
  PendingTask task(FROM_HERE, Bind(&Increment, &runs), due, true);
  const TrackedTime before_run = TrackedTime::Now();
  annotator.RunTask(kQueueFunction, task);
  const TrackedTime after_run = TrackedTime::Now();
  EXPECT_EQ(1, runs);

  const std::vector<FlowEvent> events = TakeFlowEvents();
  ASSERT_EQ(1u, events.size());
  ASSERT_EQ(1u, events[0].int_args.size());
  EXPECT_GE(events[0].int_args[0], before_run.MillisecondsSince(TrackedTime(due)));
  EXPECT_LE(events[0].int_args[0], after_run.MillisecondsSince(TrackedTime(due)));

  // The run was tallied as a death of the task's birth.
  ThreadData::BirthMap births;
  ThreadData::DeathMap deaths;
  ThreadData::Get()->SnapshotMaps(&births, &deaths);
  ASSERT_EQ(1u, deaths.count(task.birth_tally));
  EXPECT_EQ(1, deaths.at(task.birth_tally).count());
  EXPECT_EQ(events[0].int_args[0], deaths.at(task.birth_tally).queue_duration_sum());
}

TEST(TaskAnnotatorTest, WithoutTracingTheTaskStillRunsAndIsTallied) {
  ThreadData::Initialize();
  int runs = 0;
  TaskAnnotator annotator;
  PendingTask task(FROM_HERE, Bind(&Increment, &runs));
  annotator.DidQueueTask(kQueueFunction, task);
  annotator.RunTask(kQueueFunction, task);
  annotator.RunTask(kQueueFunction, task);
  EXPECT_EQ(2, runs);
  ThreadData::BirthMap births;
  ThreadData::DeathMap deaths;
  ThreadData::Get()->SnapshotMaps(&births, &deaths);
  ASSERT_EQ(1u, deaths.count(task.birth_tally));
  EXPECT_EQ(2, deaths.at(task.birth_tally).count());
  EXPECT_TRUE(TakeFlowEvents().empty());
}

}  // namespace
}  // namespace debug
}  // namespace base
