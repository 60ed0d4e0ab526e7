#include "base/threading/worker_pool.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "base/bind.h"
#include "base/memory/ref_counted.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/manual_task_runner_test_util.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/threading/trace_recording_test_util.h"
#include "gtest/gtest.h"

namespace base {
namespace {

struct RunRecord {
  DWORD thread_id = 0;
  bool runs_on_pool = false;
};

void RecordRun(RunRecord* record, WaitableEvent* done) {
  record->thread_id = ::GetCurrentThreadId();
  record->runs_on_pool = WorkerPool::RunsTasksOnCurrentThread();
  done->Signal();
}

TEST(WorkerPoolTest, TaskRunsOnASystemPoolThread) {
  RunRecord record;
  WaitableEvent done(true, false);
  ASSERT_TRUE(WorkerPool::PostTask(FROM_HERE, Bind(&RecordRun, &record, &done), false));
  done.Wait();
  EXPECT_NE(record.thread_id, ::GetCurrentThreadId());
  EXPECT_TRUE(record.runs_on_pool);
  EXPECT_FALSE(WorkerPool::RunsTasksOnCurrentThread());
}

void CountDown(std::atomic<int>* remaining, WaitableEvent* done) {
  if (remaining->fetch_sub(1) == 1)
    done->Signal();
}

TEST(WorkerPoolTest, EveryTaskRuns) {
  constexpr int kTasks = 500;
  std::atomic<int> remaining{kTasks};
  WaitableEvent done(true, false);
  for (int i = 0; i < kTasks; ++i)
    ASSERT_TRUE(WorkerPool::PostTask(FROM_HERE, Bind(&CountDown, &remaining, &done), i % 2 == 0));
  done.Wait();
  EXPECT_EQ(remaining.load(), 0);
}

// What the system was asked to queue.
std::atomic<int> g_queue_calls{0};
std::atomic<ULONG> g_last_flags{0xFFFFFFFF};

BOOL WINAPI RecordingQueueUserWorkItem(LPTHREAD_START_ROUTINE function, PVOID context, ULONG flags) {
  ++g_queue_calls;
  g_last_flags = flags;
  return ::QueueUserWorkItem(function, context, flags);
}

BOOL WINAPI RefusingQueueUserWorkItem(LPTHREAD_START_ROUTINE, PVOID, ULONG) {
  ++g_queue_calls;
  ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return FALSE;
}

class ScopedQueueFunction {
 public:
  explicit ScopedQueueFunction(WorkerPool::QueueUserWorkItemFunction function)
      : previous_(WorkerPool::SetQueueUserWorkItemFunctionForTesting(function)) {
    g_queue_calls = 0;
  }
  ~ScopedQueueFunction() { WorkerPool::SetQueueUserWorkItemFunctionForTesting(previous_); }

 private:
  WorkerPool::QueueUserWorkItemFunction previous_;
};

TEST(WorkerPoolTest, SlowTaskIsQueuedAsALongFunction) {
  ScopedQueueFunction recording(&RecordingQueueUserWorkItem);
  for (bool slow : {true, false}) {
    RunRecord record;
    WaitableEvent done(true, false);
    ASSERT_TRUE(WorkerPool::PostTask(FROM_HERE, Bind(&RecordRun, &record, &done), slow));
    done.Wait();
    EXPECT_EQ(g_last_flags.load(), slow ? static_cast<ULONG>(WT_EXECUTELONGFUNCTION) : 0u);
  }
  EXPECT_EQ(g_queue_calls.load(), 2);
}

// Notes the thread that destroys it.
class DestructionWitness : public RefCountedThreadSafe<DestructionWitness> {
 public:
  explicit DestructionWitness(DWORD* destroyed_on) : destroyed_on_(destroyed_on) {}
  void Touch() { touched_ = true; }

 private:
  friend class RefCountedThreadSafe<DestructionWitness>;
  ~DestructionWitness() { *destroyed_on_ = ::GetCurrentThreadId(); }
  DWORD* destroyed_on_;
  bool touched_ = false;
};

TEST(WorkerPoolTest, RefusedTaskIsReleasedOnTheCallingThread) {
  ScopedQueueFunction refusing(&RefusingQueueUserWorkItem);
  DWORD destroyed_on = 0;
  scoped_refptr<DestructionWitness> witness(new DestructionWitness(&destroyed_on));
  Closure task = Bind(&DestructionWitness::Touch, witness);
  witness = nullptr;
  EXPECT_FALSE(WorkerPool::PostTask(FROM_HERE, std::move(task), false));
  EXPECT_EQ(g_queue_calls.load(), 1);
  EXPECT_EQ(destroyed_on, ::GetCurrentThreadId());
}


struct ReplyRecord {
  DWORD task_thread = 0;
  DWORD reply_thread = 0;
  bool task_ran_before_reply = false;
  DWORD witness_destroyed_on = 0;
};

void RecordTask(ReplyRecord* record) {
  record->task_thread = ::GetCurrentThreadId();
}

void RecordReply(ReplyRecord* record) {
  record->reply_thread = ::GetCurrentThreadId();
  record->task_ran_before_reply = record->task_thread != 0;
}

void RecordTaskWithWitness(ReplyRecord* record, DestructionWitness*) {
  RecordTask(record);
}

TEST(WorkerPoolTest, ReplyRunsOnThePostingThreadAfterTheTask) {
  scoped_refptr<ManualTaskRunner> runner(new ManualTaskRunner);
  ThreadTaskRunnerHandle handle(runner);
  ReplyRecord record;
  {
    scoped_refptr<DestructionWitness> witness(new DestructionWitness(&record.witness_destroyed_on));
    ASSERT_TRUE(WorkerPool::PostTaskAndReply(FROM_HERE, Bind(&RecordTaskWithWitness, &record, witness),
                                             Bind(&RecordReply, &record), true));
  }
  runner->WaitForTask();
  EXPECT_EQ(runner->RunPendingTasks(), 1u);
  EXPECT_NE(record.task_thread, 0u);
  EXPECT_NE(record.task_thread, ::GetCurrentThreadId());
  EXPECT_EQ(record.reply_thread, ::GetCurrentThreadId());
  EXPECT_TRUE(record.task_ran_before_reply);
  // The task's bound values are released back on the posting thread.
  EXPECT_EQ(record.witness_destroyed_on, ::GetCurrentThreadId());
}

TEST(WorkerPoolTest, RefusedTaskAndReplyRunNeitherAndReleaseBoth) {
  ScopedQueueFunction refusing(&RefusingQueueUserWorkItem);
  scoped_refptr<ManualTaskRunner> runner(new ManualTaskRunner);
  ThreadTaskRunnerHandle handle(runner);
  ReplyRecord record;
  DWORD reply_witness_destroyed_on = 0;
  {
    scoped_refptr<DestructionWitness> task_witness(new DestructionWitness(&record.witness_destroyed_on));
    scoped_refptr<DestructionWitness> reply_witness(new DestructionWitness(&reply_witness_destroyed_on));
    Closure task = Bind(&RecordTaskWithWitness, &record, task_witness);
    Closure reply = Bind(&DestructionWitness::Touch, reply_witness);
    task_witness = nullptr;
    reply_witness = nullptr;
    EXPECT_FALSE(WorkerPool::PostTaskAndReply(FROM_HERE, std::move(task), std::move(reply), false));
  }
  EXPECT_EQ(record.task_thread, 0u);
  EXPECT_EQ(record.witness_destroyed_on, ::GetCurrentThreadId());
  EXPECT_EQ(reply_witness_destroyed_on, ::GetCurrentThreadId());
  EXPECT_EQ(runner->NumPendingTasks(), 0u);
}


TEST(WorkerPoolTest, TaskRunIsTracedWithWhereItWasPosted) {
  ScopedTraceEventCollector collector("toplevel");
  RunRecord record;
  WaitableEvent done(true, false);
  const Location posted_from = FROM_HERE;
  ASSERT_TRUE(WorkerPool::PostTask(posted_from, Bind(&RecordRun, &record, &done), false));
  done.Wait();
  // The event closes after the task returns.
  const std::vector<CallbackTraceEvent> events = collector.WaitForEvent('E', "WorkerThread::ThreadMain::Run");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].phase, 'B');
  EXPECT_EQ(events[0].name, "WorkerThread::ThreadMain::Run");
  EXPECT_EQ(events[0].thread_id, record.thread_id);
  ASSERT_EQ(events[0].arg_names.size(), 2u);
  EXPECT_EQ(events[0].arg_names[0], "src_file");
  EXPECT_EQ(events[0].string_args[0], __FILE__);
  EXPECT_EQ(events[0].arg_names[1], "src_func");
  EXPECT_EQ(events[0].string_args[1], posted_from.function_name());
  EXPECT_EQ(events[1].name, "WorkerThread::ThreadMain::Run");
}

}  // namespace
}  // namespace base
