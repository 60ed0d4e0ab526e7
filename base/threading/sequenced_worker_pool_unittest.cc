#include "base/threading/sequenced_worker_pool.h"

#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/sample_set.h"
#include "base/metrics/statistics_recorder.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/manual_task_runner_test_util.h"
#include "base/threading/simple_thread.h"
#include "base/threading/thread_local_storage.h"
#include "base/threading/thread_refusal_test_util.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/threading/trace_recording_test_util.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Token = SequencedWorkerPool::SequenceToken;

// The pool takes the constructing thread's runner: the test thread gets one it drives by hand.
class SequencedWorkerPoolTest : public ::testing::Test {
 protected:
  SequencedWorkerPoolTest() : runner_(new ManualTaskRunner), handle_(runner_) {}

  scoped_refptr<ManualTaskRunner> runner_;
  ThreadTaskRunnerHandle handle_;
};

// A thread that runs one closure, for calls that block (Shutdown).
class ClosureThread : public SimpleThread {
 public:
  explicit ClosureThread(Closure closure) : SimpleThread("ClosureThread"), closure_(std::move(closure)) {}
  void Run() override { closure_.Run(); }

 private:
  Closure closure_;
};

// Counts down and signals at zero.
class Countdown {
 public:
  explicit Countdown(int count) : remaining_(count) {}
  void Arrive() {
    if (remaining_.fetch_sub(1) == 1)
      done_.Signal();
  }
  void Wait() { done_.Wait(); }
  bool IsDone() { return done_.TimedWait(TimeDelta()); }

 private:
  std::atomic<int> remaining_;
  WaitableEvent done_{true, false};
};

// Arrives at a countdown when destroyed, and counts whether its task ran.
class TaskWitness : public RefCountedThreadSafe<TaskWitness> {
 public:
  TaskWitness(Countdown* destroyed, std::atomic<int>* runs) : destroyed_(destroyed), runs_(runs) {}
  void Run() { ++*runs_; }

 private:
  friend class RefCountedThreadSafe<TaskWitness>;
  ~TaskWitness() { destroyed_->Arrive(); }
  Countdown* destroyed_;
  std::atomic<int>* runs_;
};

Closure WitnessedTask(Countdown* destroyed, std::atomic<int>* runs) {
  return Bind(&TaskWitness::Run, scoped_refptr<TaskWitness>(new TaskWitness(destroyed, runs)));
}

void Signal(WaitableEvent* event) {
  event->Signal();
}

void SignalAndWait(WaitableEvent* started, WaitableEvent* release) {
  started->Signal();
  release->Wait();
}

// For posts the pool may run after the test has returned: it must not touch the test's stack.
void TouchNothing() {}

void Increment(std::atomic<int>* count) {
  ++*count;
}

// ---- Sequences ----

struct SequenceLog {
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};
  Lock lock;
  std::vector<int> order;
  std::set<DWORD> threads;
};

void RunSequencedTask(SequenceLog* log, int index, Countdown* all_done) {
  if (log->running.fetch_add(1) != 0)
    ++log->overlaps;
  {
    AutoLock lock(log->lock);
    log->order.push_back(index);
    log->threads.insert(::GetCurrentThreadId());
  }
  // Give other workers every chance to take a task of this sequence if the pool let them.
  PlatformThread::YieldCurrentThread();
  log->running.fetch_sub(1);
  all_done->Arrive();
}

void MeetAtBarrier(Countdown* barrier) {
  barrier->Arrive();
  barrier->Wait();
}

TEST_F(SequencedWorkerPoolTest, SequencesKeepTheirOrderAndNeverOverlap) {
  constexpr int kWorkers = 4;
  constexpr int kSequences = 16;
  constexpr int kTasksPerSequence = 200;
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(kWorkers, "SequenceTest"));

  // Four tasks that only finish together: the pool must bring up all four workers.
  Countdown barrier(kWorkers);
  for (int i = 0; i < kWorkers; ++i)
    ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&MeetAtBarrier, &barrier)));

  std::vector<std::unique_ptr<SequenceLog>> logs;
  std::vector<scoped_refptr<SequencedTaskRunner>> runners;
  for (int s = 0; s < kSequences; ++s) {
    logs.push_back(std::make_unique<SequenceLog>());
    runners.push_back(pool->GetSequencedTaskRunnerWithShutdownBehavior(
        pool->GetNamedSequenceToken("sequence " + std::to_string(s)), SequencedWorkerPool::BLOCK_SHUTDOWN));
  }
  Countdown all_done(kSequences * kTasksPerSequence);
  for (int i = 0; i < kTasksPerSequence; ++i) {
    for (int s = 0; s < kSequences; ++s)
      ASSERT_TRUE(runners[s]->PostTask(FROM_HERE, Bind(&RunSequencedTask, logs[s].get(), i, &all_done)));
  }
  all_done.Wait();
  pool->Shutdown(0);

  std::set<DWORD> all_threads;
  for (int s = 0; s < kSequences; ++s) {
    EXPECT_EQ(logs[s]->overlaps.load(), 0) << "sequence " << s;
    ASSERT_EQ(logs[s]->order.size(), static_cast<size_t>(kTasksPerSequence));
    for (int i = 0; i < kTasksPerSequence; ++i)
      ASSERT_EQ(logs[s]->order[i], i) << "sequence " << s;
    all_threads.insert(logs[s]->threads.begin(), logs[s]->threads.end());
  }
  EXPECT_LE(all_threads.size(), static_cast<size_t>(kWorkers));
}

// A task of a running sequence waits even while another worker is idle; a later task without a sequence is
// taken past it.
TEST_F(SequencedWorkerPoolTest, TaskOfABusySequenceWaitsWhileWorkersAreIdle) {
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(2, "BusySequenceTest"));
  scoped_refptr<SequencedTaskRunner> sequence = pool->GetSequencedTaskRunnerWithShutdownBehavior(
      pool->GetNamedSequenceToken("busy"), SequencedWorkerPool::BLOCK_SHUTDOWN);
  WaitableEvent first_started(true, false), release_first(true, false);
  std::atomic<int> second_runs{0};
  WaitableEvent unsequenced_ran(true, false);
  ASSERT_TRUE(sequence->PostTask(FROM_HERE, Bind(&SignalAndWait, &first_started, &release_first)));
  first_started.Wait();
  ASSERT_TRUE(sequence->PostTask(FROM_HERE, Bind(&Increment, &second_runs)));
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&Signal, &unsequenced_ran)));
  unsequenced_ran.Wait();
  EXPECT_EQ(second_runs.load(), 0);
  release_first.Signal();
  pool->Shutdown(0);
  EXPECT_EQ(second_runs.load(), 1);
}

// ---- Shutdown ----

class ShutdownWaitObserver : public SequencedWorkerPool::TestingObserver {
 public:
  void WillWaitForShutdown() override { waiting.Signal(); }
  WaitableEvent waiting{true, false};
};

void CallShutdown(SequencedWorkerPool* pool, int allowance, std::atomic<bool>* returned) {
  pool->Shutdown(allowance);
  *returned = true;
}

struct BlockingGate {
  WaitableEvent started{true, false};
  WaitableEvent release{true, false};
  std::atomic<bool> finished{false};
  // What a BLOCK_SHUTDOWN post made by the running gate after its release returned.
  std::atomic<int> late_post_result{-1};
  WaitableEvent done{true, false};
};

void RunGate(BlockingGate* gate, SequencedWorkerPool* pool, std::atomic<int>* late_runs) {
  gate->started.Signal();
  gate->release.Wait();
  gate->late_post_result = pool->PostTask(FROM_HERE, Bind(&Increment, late_runs)) ? 1 : 0;
  gate->finished = true;
  gate->done.Signal();
}

TEST_F(SequencedWorkerPoolTest, ShutdownRunsBlockingTasksAndDropsTheRest) {
  StatisticsRecorder::InitializeForTesting();
  ShutdownWaitObserver observer;
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "ShutdownTest", &observer));
  const Token token = pool->GetNamedSequenceToken("shutdown");
  auto skip = pool->GetSequencedTaskRunnerWithShutdownBehavior(token, SequencedWorkerPool::SKIP_ON_SHUTDOWN);
  auto block = pool->GetSequencedTaskRunnerWithShutdownBehavior(token, SequencedWorkerPool::BLOCK_SHUTDOWN);
  auto carry_on = pool->GetSequencedTaskRunnerWithShutdownBehavior(Token(), SequencedWorkerPool::CONTINUE_ON_SHUTDOWN);

  BlockingGate gate;
  std::atomic<int> late_runs{0};
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&RunGate, &gate, pool.get(), &late_runs)));
  gate.started.Wait();

  // Queued behind the gate on the only worker.
  constexpr int kDropped = 6;
  constexpr int kBlocking = 3;
  Countdown dropped_destroyed(kDropped), blocking_destroyed(kBlocking);
  std::atomic<int> dropped_runs{0}, blocking_runs{0};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(skip->PostTask(FROM_HERE, WitnessedTask(&dropped_destroyed, &dropped_runs)));
    ASSERT_TRUE(block->PostTask(FROM_HERE, WitnessedTask(&blocking_destroyed, &blocking_runs)));
    ASSERT_TRUE(carry_on->PostTask(FROM_HERE, WitnessedTask(&dropped_destroyed, &dropped_runs)));
  }
  ASSERT_TRUE(block->PostTask(FROM_HERE, WitnessedTask(&blocking_destroyed, &blocking_runs)));
  // Delayed tasks are skippable whatever their runner says.
  ASSERT_TRUE(block->PostDelayedTask(FROM_HERE, WitnessedTask(&dropped_destroyed, &dropped_runs),
                                     TimeDelta::FromMilliseconds(1)));
  ASSERT_TRUE(pool->PostDelayedTask(FROM_HERE, WitnessedTask(&dropped_destroyed, &dropped_runs),
                                    TimeDelta::FromMicroseconds(-1)));

  std::atomic<bool> shutdown_returned{false};
  ClosureThread shutdown_thread(Bind(&CallShutdown, pool.get(), 0, &shutdown_returned));
  ASSERT_TRUE(shutdown_thread.Start());
  observer.waiting.Wait();

  // Shutdown has begun: only blocking work is accepted, and none beyond the allowance of 0.
  Countdown refused_destroyed(2);
  std::atomic<int> refused_runs{0};
  EXPECT_FALSE(skip->PostTask(FROM_HERE, WitnessedTask(&refused_destroyed, &refused_runs)));
  EXPECT_FALSE(block->PostTask(FROM_HERE, WitnessedTask(&refused_destroyed, &refused_runs)));
  // Refused closures are released on the posting thread, before the post returns.
  EXPECT_TRUE(refused_destroyed.IsDone());
  EXPECT_FALSE(shutdown_returned.load());

  gate.release.Signal();
  shutdown_thread.Join();
  EXPECT_TRUE(gate.finished.load());
  EXPECT_EQ(gate.late_post_result.load(), 0);
  EXPECT_EQ(blocking_runs.load(), kBlocking);

  // Dropped tasks are destroyed, never run.
  dropped_destroyed.Wait();
  EXPECT_EQ(dropped_runs.load(), 0);
  EXPECT_EQ(late_runs.load(), 0);
  EXPECT_EQ(refused_runs.load(), 0);

  HistogramBase* histogram = StatisticsRecorder::FindHistogram("SequencedWorkerPool.ShutdownDelayTime");
  ASSERT_NE(histogram, nullptr);
  EXPECT_EQ(histogram->SnapshotSamples()->TotalCount(), 1);
}

// The worker's own blocking post is refused although the allowance of 1 would take one from elsewhere.
TEST_F(SequencedWorkerPoolTest, StartedSkippableTaskBlocksShutdownButContinuableDoesNot) {
  for (SequencedWorkerPool::WorkerShutdown behavior :
       {SequencedWorkerPool::SKIP_ON_SHUTDOWN, SequencedWorkerPool::CONTINUE_ON_SHUTDOWN}) {
    ShutdownWaitObserver observer;
    scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "StartedTest", &observer));
    auto runner = pool->GetSequencedTaskRunnerWithShutdownBehavior(Token(), behavior);
    BlockingGate gate;
    std::atomic<int> late_runs{0};
    ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind(&RunGate, &gate, pool.get(), &late_runs)));
    gate.started.Wait();

    std::atomic<bool> shutdown_returned{false};
    ClosureThread shutdown_thread(Bind(&CallShutdown, pool.get(), 1, &shutdown_returned));
    ASSERT_TRUE(shutdown_thread.Start());
    if (behavior == SequencedWorkerPool::SKIP_ON_SHUTDOWN) {
      observer.waiting.Wait();
      gate.release.Signal();
      shutdown_thread.Join();
      EXPECT_TRUE(gate.finished.load());
    } else {
      // Nothing to wait for: Shutdown returns while the task still runs.
      shutdown_thread.Join();
      EXPECT_TRUE(shutdown_returned.load());
      EXPECT_FALSE(observer.waiting.TimedWait(TimeDelta()));
      EXPECT_FALSE(gate.finished.load());
      gate.release.Signal();
    }
    // A blocking post from a worker that runs a non-blocking task is refused after shutdown.
    gate.done.Wait();
    EXPECT_EQ(gate.late_post_result.load(), 0);
    EXPECT_EQ(late_runs.load(), 0);
    // The allowance is still there for everyone else. A CONTINUE_ON_SHUTDOWN worker may still be alive to run it
    // after this iteration has ended.
    EXPECT_TRUE(pool->PostTask(FROM_HERE, Bind(&TouchNothing)));
  }
}

TEST_F(SequencedWorkerPoolTest, ShutdownAllowanceAcceptsThatManyBlockingPosts) {
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "AllowanceTest"));
  WaitableEvent first(true, false);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&Signal, &first)));
  first.Wait();
  pool->Shutdown(2);
  // Every worker may have left already, or may run these after the test returned; what counts here is what the
  // pool accepts.
  EXPECT_TRUE(pool->PostTask(FROM_HERE, Bind(&TouchNothing)));
  EXPECT_TRUE(pool->PostTask(FROM_HERE, Bind(&TouchNothing)));
  EXPECT_FALSE(pool->PostTask(FROM_HERE, Bind(&TouchNothing)));
  pool->Shutdown(5);  // a second call changes nothing
  EXPECT_FALSE(pool->PostTask(FROM_HERE, Bind(&TouchNothing)));
}

// Holds a worker's thread in its thread-local destructors, after the worker has left the pool's loop.
struct ThreadEndHold {
  WaitableEvent ending{true, false};
  WaitableEvent release{true, false};
  std::atomic<bool> ended{false};
};

ThreadLocalStorage::Slot g_thread_end_hold_slot;

void HoldThreadEnd(void* value) {
  auto* hold = static_cast<ThreadEndHold*>(value);
  hold->ending.Signal();
  hold->release.Wait();
  hold->ended = true;
}

void SetThreadEndHold(ThreadEndHold* hold) {
  g_thread_end_hold_slot.Set(hold);
}

void CallShutdownAndSee(SequencedWorkerPool* pool, ThreadEndHold* hold, std::atomic<bool>* returned,
                        std::atomic<bool>* ended_at_return) {
  pool->Shutdown(0);
  *ended_at_return = hold->ended.load();
  *returned = true;
}

// The process may end as soon as Shutdown returns: the threads of the workers that left must have ended by then.
TEST_F(SequencedWorkerPoolTest, ShutdownReturnsOnceTheLeavingWorkersThreadsHaveEnded) {
  if (!g_thread_end_hold_slot.initialized())
    g_thread_end_hold_slot.Initialize(&HoldThreadEnd);
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "ThreadEndTest"));
  ThreadEndHold hold;
  WaitableEvent set(true, false);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&SetThreadEndHold, &hold)));
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&Signal, &set)));
  set.Wait();

  std::atomic<bool> returned{false};
  std::atomic<bool> ended_at_return{false};
  ClosureThread shutdown_thread(Bind(&CallShutdownAndSee, pool.get(), &hold, &returned, &ended_at_return));
  ASSERT_TRUE(shutdown_thread.Start());
  hold.ending.Wait();
  EXPECT_FALSE(returned.load());
  hold.release.Signal();
  shutdown_thread.Join();
  EXPECT_TRUE(ended_at_return.load());
}

// ---- Workers ----

struct WorkerFacts {
  std::string name;
  DWORD thread_id = 0;
  bool on_pool = false;
  bool on_own_sequence = false;
  bool on_other_sequence = true;
  HRESULT multithreaded_com = S_OK;
};

void RecordWorkerFacts(SequencedWorkerPool* pool, SequencedTaskRunner* own, SequencedTaskRunner* other,
                       WorkerFacts* facts, WaitableEvent* done) {
  facts->name = PlatformThread::GetName();
  facts->thread_id = ::GetCurrentThreadId();
  facts->on_pool = pool->RunsTasksOnCurrentThread();
  facts->on_own_sequence = own->RunsTasksOnCurrentThread();
  facts->on_other_sequence = other->RunsTasksOnCurrentThread();
  // COM says which apartment the thread is in: a single-threaded one refuses to become multi-threaded.
  facts->multithreaded_com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(facts->multithreaded_com))
    ::CoUninitialize();
  done->Signal();
}

TEST_F(SequencedWorkerPoolTest, WorkersAreNamedAndKnowTheirSequence) {
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "PrefsTaskPool"));
  auto own = pool->GetSequencedTaskRunnerWithShutdownBehavior(pool->GetNamedSequenceToken("own"),
                                                              SequencedWorkerPool::BLOCK_SHUTDOWN);
  auto other = pool->GetSequencedTaskRunnerWithShutdownBehavior(pool->GetNamedSequenceToken("other"),
                                                                SequencedWorkerPool::BLOCK_SHUTDOWN);
  WorkerFacts facts;
  WaitableEvent done(true, false);
  ASSERT_TRUE(own->PostTask(FROM_HERE, Bind(&RecordWorkerFacts, pool.get(), own.get(), other.get(), &facts, &done)));
  done.Wait();
  pool->Shutdown(0);

  EXPECT_EQ(facts.name, "PrefsTaskPoolWorker1/" + std::to_string(facts.thread_id));
  EXPECT_TRUE(facts.on_pool);
  EXPECT_TRUE(facts.on_own_sequence);
  EXPECT_FALSE(facts.on_other_sequence);
  EXPECT_EQ(facts.multithreaded_com, RPC_E_CHANGED_MODE);
  EXPECT_FALSE(pool->RunsTasksOnCurrentThread());
  EXPECT_FALSE(own->RunsTasksOnCurrentThread());
}

void RecordName(Lock* lock, std::set<std::string>* names, Countdown* done) {
  {
    AutoLock hold(*lock);
    const std::string name = PlatformThread::GetName();
    names->insert(name.substr(0, name.find('/')));
  }
  done->Arrive();
}

TEST_F(SequencedWorkerPoolTest, WorkersAreCreatedUpToTheMaximum) {
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(2, "MaximumTest"));
  Countdown barrier(2);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&MeetAtBarrier, &barrier)));
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&MeetAtBarrier, &barrier)));
  Lock lock;
  std::set<std::string> names;
  constexpr int kTasks = 100;
  Countdown done(kTasks);
  for (int i = 0; i < kTasks; ++i)
    ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&RecordName, &lock, &names, &done)));
  done.Wait();
  pool->Shutdown(0);
  barrier.Wait();
  for (const std::string& name : names)
    EXPECT_TRUE(name == "MaximumTestWorker1" || name == "MaximumTestWorker2") << name;
}

TEST_F(SequencedWorkerPoolTest, NamedTokensAreStableAndUniqueAcrossPools) {
  scoped_refptr<SequencedWorkerPool> first(new SequencedWorkerPool(1, "TokenTestA"));
  scoped_refptr<SequencedWorkerPool> second(new SequencedWorkerPool(1, "TokenTestB"));
  const Token a = first->GetNamedSequenceToken("file");
  EXPECT_TRUE(a.IsValid());
  EXPECT_TRUE(a.Equals(first->GetNamedSequenceToken("file")));
  EXPECT_FALSE(a.Equals(first->GetNamedSequenceToken("other file")));
  EXPECT_FALSE(a.Equals(second->GetNamedSequenceToken("file")));
  EXPECT_FALSE(Token().IsValid());
  first->Shutdown(0);
  second->Shutdown(0);
}

void RecordTime(TimeTicks* when, WaitableEvent* done) {
  *when = TimeTicks::Now();
  done->Signal();
}

TEST_F(SequencedWorkerPoolTest, DelayedTaskRunsNoSoonerThanItsDelay) {
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "DelayTest"));
  LARGE_INTEGER frequency, posted, ran;
  ::QueryPerformanceFrequency(&frequency);
  TimeTicks when;
  WaitableEvent done(true, false);
  ::QueryPerformanceCounter(&posted);
  ASSERT_TRUE(pool->PostDelayedTask(FROM_HERE, Bind(&RecordTime, &when, &done), TimeDelta::FromMilliseconds(30)));
  done.Wait();
  ::QueryPerformanceCounter(&ran);
  EXPECT_GE((ran.QuadPart - posted.QuadPart) * 1000.0 / frequency.QuadPart, 30.0);
  pool->Shutdown(0);
}

// ---- Lifetime ----

TEST_F(SequencedWorkerPoolTest, LastReferenceDroppedOnAWorkerDeletesOnTheConstructingThread) {
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "LifetimeTest"));
  WaitableEvent started(true, false), release(true, false);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&SignalAndWait, &started, &release)));
  started.Wait();
  // The running worker holds the only other reference; it drops it as it leaves after shutdown.
  SequencedWorkerPool* raw = pool.get();
  pool = nullptr;
  release.Signal();
  raw->Shutdown(0);

  runner_->WaitForTask();
  std::deque<ManualTaskRunner::PostedTask> posted = runner_->PendingTasks();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_STREQ(posted[0].from_here.function_name(), "base::SequencedWorkerPool::OnDestruct");
  posted.clear();
  EXPECT_EQ(runner_->RunPendingTasks(), 1u);  // deletes the pool, joining its worker
}

// ---- Workers that cannot be created ----

// One refused thread must not stop every later worker.
TEST_F(SequencedWorkerPoolTest, WorkerCreatedAfterAFailedCreation) {
  ScopedThreadRefusal refusal;
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "FailedCreationTest"));
  Countdown both_ran(2);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&Countdown::Arrive, Unretained(&both_ran))));
  refusal.set_refusing(false);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&Countdown::Arrive, Unretained(&both_ran))));
  both_ran.Wait();
  pool->Shutdown(0);
}

// Shutdown must not wait for a worker that can never be made.
TEST_F(SequencedWorkerPoolTest, ShutdownWithoutAnyWorkerDropsThePendingTasks) {
  ScopedThreadRefusal refusal;
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(2, "NoWorkerTest"));
  Countdown destroyed(2);
  std::atomic<int> runs{0};
  ASSERT_TRUE(pool->PostTask(FROM_HERE, WitnessedTask(&destroyed, &runs)));
  ASSERT_TRUE(pool->PostTask(FROM_HERE, WitnessedTask(&destroyed, &runs)));
  pool->Shutdown(0);
  EXPECT_TRUE(destroyed.IsDone());
  EXPECT_EQ(runs.load(), 0);
}

// A refused second worker leaves the first to do the work, and Shutdown still returns.
TEST_F(SequencedWorkerPoolTest, RefusedAdditionalWorkerLeavesTheWorkToTheFirst) {
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(2, "SecondWorkerTest"));
  WaitableEvent started(true, false), release(true, false);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&SignalAndWait, &started, &release)));
  started.Wait();
  std::atomic<int> runs{0};
  {
    ScopedThreadRefusal refusal;
    ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&Increment, &runs)));
  }
  release.Signal();
  pool->Shutdown(0);
  EXPECT_EQ(runs.load(), 1);
}

// ---- Tracing ----

TEST_F(SequencedWorkerPoolTest, PostingAndRunningAreTracedAsAFlow) {
  ScopedTraceEventCollector collector("disabled-by-default-toplevel.flow");
  scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "TraceTest"));
  WaitableEvent done(true, false);
  const Location posted_from = FROM_HERE;
  ASSERT_TRUE(pool->PostTask(posted_from, Bind(&Signal, &done)));
  done.Wait();
  const std::vector<CallbackTraceEvent> events =
      collector.WaitForEvent('E', "SequencedWorkerPool::Inner::ThreadLoop");
  pool->Shutdown(0);

  const CallbackTraceEvent* post = nullptr;
  const CallbackTraceEvent* run = nullptr;
  for (const CallbackTraceEvent& event : events) {
    if (event.phase == 'B' && event.name == "SequencedWorkerPool::Inner::PostTask")
      post = &event;
    if (event.phase == 'B' && event.name == "SequencedWorkerPool::Inner::ThreadLoop")
      run = &event;
  }
  ASSERT_NE(post, nullptr);
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(post->flags, 0x204u);
  EXPECT_EQ(post->thread_id, ::GetCurrentThreadId());
  EXPECT_EQ(run->flags, 0x104u);
  EXPECT_NE(run->thread_id, ::GetCurrentThreadId());
  ASSERT_EQ(run->string_args.size(), 2u);
  EXPECT_EQ(run->string_args[0], posted_from.file_name());
  EXPECT_EQ(run->string_args[1], posted_from.function_name());
}

}  // namespace
}  // namespace base
