#include "base/threading/tracing_threading_hooks.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_category_filter.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace {

using trace_event::TraceEvent;
using trace_event::TraceLog;

void AddInstantEvent(const char* name) {
  TraceLog::GetInstance()->AddTraceEventWithThreadIdAndTimestamp(
      trace_event::kTraceEventPhaseInstant, TraceLog::GetCategoryGroupEnabled("toplevel"), name, nullptr, 0, 0,
      static_cast<int>(GetCurrentThreadId()), TimeTicks::Now(), 0, nullptr, nullptr, nullptr, nullptr, 0);
}

void TraceOnWorker(DWORD* thread_id, WaitableEvent* done) {
  *thread_id = GetCurrentThreadId();
  AddInstantEvent("OnTheWorker");
  done->Signal();
}

// Nothing but the threading layer itself installs what tracing needs: a Thread's loop gives the thread a
// chunk of the trace buffer of its own, and the thread's name reaches the trace's metadata.
TEST(TracingThreadingHooksTest, ThreadWithALoopTracesIntoItsOwnChunkUnderItsName) {
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabledForTesting(trace_event::TraceCategoryFilter(), trace_event::kTraceRecordUntilFull);
  // This thread runs no loop: its events go to the chunk that such threads share.
  AddInstantEvent("OnTheTestThread");

  DWORD worker_id = 0;
  {
    Thread thread("Traced worker");
    ASSERT_TRUE(thread.Start());
    WaitableEvent done(true, false);
    thread.task_runner()->PostTask(FROM_HERE, Bind(&TraceOnWorker, &worker_id, &done));
    done.Wait();
  }  // the loop's end gives the thread's chunk back to the buffer
  log->SetDisabled();
  std::unique_ptr<trace_event::TraceBuffer> buffer = log->TakeTraceBufferForTesting();

  std::set<uint32_t> worker_chunks;
  std::set<uint32_t> other_chunks;
  int worker_events = 0;
  bool task_run_traced = false;
  std::string worker_name;
  while (const trace_event::TraceBufferChunk* chunk = buffer->ChunkForIteration()) {
    for (size_t i = 0; i < chunk->size(); ++i) {
      const TraceEvent* event = chunk->GetEventAt(i);
      const std::string name = event->name();
      if (event->phase() == trace_event::kTraceEventPhaseMetadata) {
        if (name == "thread_name" && event->thread_id() == static_cast<int>(worker_id))
          TraceEvent::AppendValueAsJSON(event->arg_type(0), event->arg_value(0), &worker_name);
        other_chunks.insert(chunk->seq());
        continue;
      }
      if (event->thread_id() == static_cast<int>(worker_id)) {
        worker_chunks.insert(chunk->seq());
        ++worker_events;
        task_run_traced |= name == "MessageLoop::RunTask";
      } else {
        other_chunks.insert(chunk->seq());
      }
    }
  }
  ASSERT_NE(0u, worker_id);
  EXPECT_TRUE(task_run_traced);
  EXPECT_GE(worker_events, 2);
  ASSERT_EQ(1u, worker_chunks.size()) << "the worker's events share one chunk";
  EXPECT_EQ(0u, other_chunks.count(*worker_chunks.begin())) << "and no other thread writes into it";
  EXPECT_EQ("\"Traced worker\"", worker_name);
}

// Counts the periodic dump requests that reach it, and ends the run at the second.
class CountingDumpDelegate : public trace_event::MemoryDumpManagerDelegate {
 public:
  explicit CountingDumpDelegate(RunLoop* run_loop) : run_loop_(run_loop) {}
  void RequestGlobalMemoryDump(const trace_event::MemoryDumpRequestArgs& args,
                               const trace_event::MemoryDumpCallback&) override {
    periodic_requests += args.dump_type == trace_event::kMemoryDumpTypePeriodicInterval ? 1 : 0;
    threads.insert(GetCurrentThreadId());
    if (periodic_requests == 2)
      run_loop_->Quit();
  }
  int periodic_requests = 0;
  std::set<DWORD> threads;

 private:
  RunLoop* run_loop_;
};

// Memory tracing gets its thread and its repeating timer from the threading layer as well.
TEST(TracingThreadingHooksTest, MemoryTracingStartsItsThreadAndRepeatsItsDumpsOnTheLoop) {
  MessageLoop loop(MessageLoop::TYPE_DEFAULT);
  RunLoop run_loop;
  CountingDumpDelegate delegate(&run_loop);
  trace_event::MemoryDumpManager* manager = trace_event::MemoryDumpManager::GetInstance();
  manager->SetDelegate(&delegate, /*is_coordinator=*/true);
  trace_event::TraceCategoryFilter filter;
  filter.AddDisabledByDefaultCategory(trace_event::kMemoryInfraCategory);
  filter.AddMemoryDumpTrigger({5, trace_event::kMemoryDumpLevelOfDetailLight});
  TraceLog::GetInstance()->SetEnabledForTesting(filter, trace_event::kTraceRecordUntilFull);

  manager->OnTraceLogEnabled();
  ASSERT_TRUE(manager->IsMemoryTracingEnabled()) << "the memory-infra thread did not start";
  run_loop.Run();
  manager->OnTraceLogDisabled();
  TraceLog::GetInstance()->SetDisabled();
  manager->SetDelegate(nullptr, false);

  EXPECT_EQ(2, delegate.periodic_requests);
  EXPECT_EQ(std::set<DWORD>{GetCurrentThreadId()}, delegate.threads) << "the timer runs on the enabling thread";
  EXPECT_FALSE(manager->IsMemoryTracingEnabled());
}

}  // namespace
}  // namespace base
