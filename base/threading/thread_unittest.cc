#include "base/threading/thread.h"

#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/memory/ref_counted.h"
#include "base/message_loop/message_pump_default.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread_refusal_test_util.h"
#include "base/win/scoped_handle_verifier.h"
#include "gtest/gtest.h"
#include "testing/test_support.h"

namespace base {
namespace {

void Signal(WaitableEvent* event) {
  event->Signal();
}

void AppendIndex(std::vector<int>* order, int index, DWORD* thread_id) {
  order->push_back(index);
  *thread_id = ::GetCurrentThreadId();
}

TEST(ThreadTest, StopOfAThreadNeverStartedDoesNothing) {
  Thread thread("ThreadTest never started");
  EXPECT_EQ(thread.task_runner(), nullptr);
  thread.Stop();
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(thread.message_loop(), nullptr);
  EXPECT_EQ(thread.thread_name(), "ThreadTest never started");
}

// A pump factory that keeps the new thread from binding its loop until the test lets it.
std::unique_ptr<MessagePump> MakePumpWhenReleased(WaitableEvent* release) {
  release->Wait();
  return std::make_unique<MessagePumpDefault>();
}

TEST(ThreadTest, TasksPostedBeforeTheLoopIsBoundRunInOrder) {
  WaitableEvent release(true, false);
  Thread thread("ThreadTest early posts");
  Thread::Options options;
  options.message_pump_factory = Bind(&MakePumpWhenReleased, &release);
  ASSERT_TRUE(thread.StartWithOptions(options));
  std::vector<int> order;
  DWORD ran_on = 0;
  for (int i = 0; i < 50; ++i)
    ASSERT_TRUE(thread.task_runner()->PostTask(FROM_HERE, Bind(&AppendIndex, &order, i, &ran_on)));
  release.Signal();
  const PlatformThreadId thread_id = thread.GetThreadId();
  thread.Stop();
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(order[i], i);
  EXPECT_EQ(ran_on, thread_id);
  EXPECT_NE(ran_on, ::GetCurrentThreadId());
}

// Notes where and whether it ran, and where it was destroyed.
class TaskWitness : public RefCountedThreadSafe<TaskWitness> {
 public:
  TaskWitness(std::atomic<int>* runs, std::atomic<DWORD>* destroyed_on) : runs_(runs), destroyed_on_(destroyed_on) {}
  void Run() { ++*runs_; }

 private:
  friend class RefCountedThreadSafe<TaskWitness>;
  ~TaskWitness() { *destroyed_on_ = ::GetCurrentThreadId(); }
  std::atomic<int>* runs_;
  std::atomic<DWORD>* destroyed_on_;
};

TEST(ThreadTest, StopRunsTheReadyTasksAndDropsTheDelayedOnes) {
  Thread thread("ThreadTest stop");
  ASSERT_TRUE(thread.Start());
  std::atomic<int> ready_runs{0};
  std::atomic<DWORD> ready_destroyed_on{0};
  {
    scoped_refptr<TaskWitness> ready(new TaskWitness(&ready_runs, &ready_destroyed_on));
    for (int i = 0; i < 1000; ++i)
      ASSERT_TRUE(thread.task_runner()->PostTask(FROM_HERE, Bind(&TaskWitness::Run, ready)));
  }
  std::atomic<int> delayed_runs{0};
  std::atomic<DWORD> delayed_destroyed_on{0};
  ASSERT_TRUE(thread.task_runner()->PostDelayedTask(
      FROM_HERE, Bind(&TaskWitness::Run, scoped_refptr<TaskWitness>(new TaskWitness(&delayed_runs, &delayed_destroyed_on))),
      TimeDelta::FromSeconds(600)));
  const PlatformThreadId thread_id = thread.GetThreadId();
  thread.Stop();
  EXPECT_EQ(ready_runs.load(), 1000);
  EXPECT_EQ(delayed_runs.load(), 0);
  // The loop died on its thread, destroying the delayed task there.
  EXPECT_EQ(delayed_destroyed_on.load(), thread_id);
  EXPECT_EQ(thread.task_runner(), nullptr);
  EXPECT_EQ(thread.message_loop(), nullptr);
}

struct LoopFacts {
  MessageLoop::Type type = MessageLoop::TYPE_DEFAULT;
  std::string loop_thread_name;
  std::string registered_name;
  DWORD thread_id = 0;
  HRESULT multithreaded_com = S_OK;
  HRESULT apartment_com = S_OK;
  int windows_priority = -100;
  bool is_running = false;
};

void RecordLoopFacts(Thread* thread, LoopFacts* facts, WaitableEvent* done) {
  facts->type = MessageLoop::current()->type();
  facts->loop_thread_name = MessageLoop::current()->thread_name();
  facts->registered_name = PlatformThread::GetName();
  facts->thread_id = ::GetCurrentThreadId();
  facts->windows_priority = ::GetThreadPriority(::GetCurrentThread());
  facts->is_running = thread->IsRunning();
  // COM says which apartment the thread is in: entering the other kind fails with RPC_E_CHANGED_MODE.
  facts->multithreaded_com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(facts->multithreaded_com))
    ::CoUninitialize();
  facts->apartment_com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(facts->apartment_com))
    ::CoUninitialize();
  done->Signal();
}

LoopFacts FactsOf(Thread* thread) {
  LoopFacts facts;
  WaitableEvent done(true, false);
  EXPECT_TRUE(thread->task_runner()->PostTask(FROM_HERE, Bind(&RecordLoopFacts, thread, &facts, &done)));
  done.Wait();
  return facts;
}

TEST(ThreadTest, ThreadIsNamedAndRunsTheLoopTypeItWasGiven) {
  const MessageLoop::Type types[] = {MessageLoop::TYPE_DEFAULT, MessageLoop::TYPE_UI, MessageLoop::TYPE_IO};
  for (MessageLoop::Type type : types) {
    Thread thread("ThreadTest type " + std::to_string(type));
    Thread::Options options;
    options.message_loop_type = type;
    options.priority = ThreadPriority::DISPLAY;
    ASSERT_TRUE(thread.StartWithOptions(options));
    const LoopFacts facts = FactsOf(&thread);
    EXPECT_EQ(facts.type, type);
    EXPECT_EQ(facts.loop_thread_name, thread.thread_name());
    EXPECT_EQ(facts.registered_name, thread.thread_name());
    EXPECT_EQ(facts.thread_id, thread.GetThreadId());
    EXPECT_EQ(facts.windows_priority, THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_TRUE(facts.is_running);
    thread.Stop();
    EXPECT_FALSE(thread.IsRunning());
  }
}

TEST(ThreadTest, PumpFactoryAlwaysMakesACustomLoop) {
  WaitableEvent release(true, true);
  Thread thread("ThreadTest custom");
  Thread::Options options;
  options.message_loop_type = MessageLoop::TYPE_IO;
  options.message_pump_factory = Bind(&MakePumpWhenReleased, &release);
  ASSERT_TRUE(thread.StartWithOptions(options));
  EXPECT_EQ(FactsOf(&thread).type, MessageLoop::TYPE_CUSTOM);
}

TEST(ThreadTest, ComApartmentAsAsked) {
  {
    Thread thread("ThreadTest STA");
    thread.SetComStatus(Thread::ComStatus::STA);
    ASSERT_TRUE(thread.Start());
    const LoopFacts facts = FactsOf(&thread);
    // A single-threaded apartment pumps window messages: Start gives it a UI loop.
    EXPECT_EQ(facts.type, MessageLoop::TYPE_UI);
    EXPECT_EQ(facts.multithreaded_com, RPC_E_CHANGED_MODE);
    EXPECT_EQ(facts.apartment_com, S_FALSE);  // already in one
  }
  {
    Thread thread("ThreadTest MTA");
    thread.SetComStatus(Thread::ComStatus::MTA);
    ASSERT_TRUE(thread.Start());
    const LoopFacts facts = FactsOf(&thread);
    EXPECT_EQ(facts.type, MessageLoop::TYPE_DEFAULT);
    EXPECT_EQ(facts.apartment_com, RPC_E_CHANGED_MODE);
    EXPECT_EQ(facts.multithreaded_com, S_FALSE);
  }
  {
    Thread thread("ThreadTest no COM");
    ASSERT_TRUE(thread.Start());
    const LoopFacts facts = FactsOf(&thread);
    EXPECT_EQ(facts.multithreaded_com, S_OK);
    EXPECT_EQ(facts.apartment_com, S_OK);
  }
}

// Records the order of its hooks and what the thread saw in them.
class HookedThread : public Thread {
 public:
  explicit HookedThread(const std::string& name) : Thread(name) {}
  ~HookedThread() override { Stop(); }

  std::vector<std::string> calls;
  bool running_in_init = true;
  bool quit_properly_in_cleanup = false;
  bool loop_present_in_cleanup = false;

 protected:
  void Init() override {
    calls.push_back("Init");
    running_in_init = IsRunning();
  }
  void Run(MessageLoop* message_loop) override {
    calls.push_back("Run");
    Thread::Run(message_loop);
  }
  void CleanUp() override {
    calls.push_back("CleanUp");
    quit_properly_in_cleanup = GetThreadWasQuitProperly();
    loop_present_in_cleanup = MessageLoop::current() != nullptr;
  }
};

TEST(ThreadTest, HooksRunInOrderAndStopQuitsProperly) {
  HookedThread thread("ThreadTest hooks");
  ASSERT_TRUE(thread.Start());
  thread.Stop();
  EXPECT_EQ(thread.calls, (std::vector<std::string>{"Init", "Run", "CleanUp"}));
  EXPECT_FALSE(thread.running_in_init);
  EXPECT_TRUE(thread.quit_properly_in_cleanup);
  EXPECT_TRUE(thread.loop_present_in_cleanup);
}

void QuitCurrentLoop() {
  MessageLoop::current()->QuitNow();
}

TEST(ThreadTest, LoopThatQuitItselfWasNotQuitProperly) {
  HookedThread thread("ThreadTest self quit");
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(thread.task_runner()->PostTask(FROM_HERE, Bind(&QuitCurrentLoop)));
  thread.Stop();  // the thread may have ended already; Stop still joins it
  EXPECT_FALSE(thread.quit_properly_in_cleanup);
  EXPECT_EQ(thread.calls.size(), 3u);
}

TEST(ThreadTest, StoppedThreadStartsAgainOnANewThread) {
  Thread thread("ThreadTest restart");
  ASSERT_TRUE(thread.Start());
  const PlatformThreadId first = thread.GetThreadId();
  thread.Stop();
  ASSERT_TRUE(thread.Start());
  const LoopFacts facts = FactsOf(&thread);
  EXPECT_EQ(facts.thread_id, thread.GetThreadId());
  EXPECT_NE(thread.GetThreadId(), first);
  thread.Stop();
}

class DestructionRecorder : public MessageLoop::DestructionObserver {
 public:
  void WillDestroyCurrentMessageLoop() override { told_on = ::GetCurrentThreadId(); }
  DWORD told_on = 0;
};

void AddDestructionObserver(DestructionRecorder* recorder) {
  MessageLoop::current()->AddDestructionObserver(recorder);
}

TEST(ThreadTest, DestroyingTheThreadStopsItAndEndsItsLoop) {
  DestructionRecorder recorder;
  PlatformThreadId thread_id = 0;
  std::atomic<int> runs{0};
  std::atomic<DWORD> destroyed_on{0};
  {
    Thread thread("ThreadTest destroyed");
    ASSERT_TRUE(thread.Start());
    thread_id = thread.GetThreadId();
    ASSERT_TRUE(thread.task_runner()->PostTask(FROM_HERE, Bind(&AddDestructionObserver, &recorder)));
    ASSERT_TRUE(thread.task_runner()->PostTask(
        FROM_HERE, Bind(&TaskWitness::Run, scoped_refptr<TaskWitness>(new TaskWitness(&runs, &destroyed_on)))));
  }
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(recorder.told_on, thread_id);
}

TEST(ThreadTest, ThreadThatCannotBeCreatedLeavesNothingBehind) {
  Thread thread("ThreadTest refused");
  {
    ScopedThreadRefusal refusal;
    EXPECT_FALSE(thread.Start());
  }
  EXPECT_EQ(thread.task_runner(), nullptr);
  EXPECT_EQ(thread.message_loop(), nullptr);
  thread.Stop();
  ASSERT_TRUE(thread.Start());
  EXPECT_EQ(FactsOf(&thread).thread_id, thread.GetThreadId());
}

// Handles of every kind a thread uses (its own handle, its duplicate, events, the loop's pump) must all be
// given back. The verifier's count covers the tracked ones; the process's count covers the rest.
TEST(ThreadTest, StartingAndStoppingLeaksNoHandles) {
  constexpr int kThreads = 8;
  constexpr int kCycles = 100;
  std::vector<std::unique_ptr<Thread>> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.push_back(std::make_unique<Thread>("ThreadTest leak " + std::to_string(i)));
  auto cycle = [&threads] {
    for (auto& thread : threads)
      ASSERT_TRUE(thread->Start());
    for (auto& thread : threads) {
      WaitableEvent ran(true, false);
      ASSERT_TRUE(thread->task_runner()->PostTask(FROM_HERE, Bind(&Signal, &ran)));
      ran.Wait();
    }
    for (auto& thread : threads)
      thread->Stop();
  };
  // The first cycle makes what lives for the process (lazy instances, the registry, thread-local slots).
  cycle();
  const size_t tracked_before = win::GetTrackedHandleCountForTesting();
  const int process_before = test_support::CountOpenHandles();
  ASSERT_GT(process_before, 0);
  for (int i = 0; i < kCycles; ++i)
    cycle();
  EXPECT_GT(tracked_before, 0u) << "the verifier tracks the threads' events";
  EXPECT_EQ(win::GetTrackedHandleCountForTesting(), tracked_before);
  EXPECT_EQ(test_support::CountOpenHandles(), process_before);
}


void StopFromItself(Thread* thread) {
  thread->Stop();
}

TEST(ThreadDeathTest, StoppingAThreadFromItselfIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Thread thread("ThreadDeathTest self stop");
        thread.Start();
        WaitableEvent never(true, false);
        thread.task_runner()->PostTask(FROM_HERE, Bind(&StopFromItself, &thread));
        never.Wait();
      },
      ::testing::ExitedWithCode(0x80000003), "");
}

}  // namespace
}  // namespace base
