#include "base/win/object_watcher.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump.h"
#include "base/profiler/task_profiler.h"
#include "base/run_loop.h"
#include "base/synchronization/waitable_event.h"
#include "testing/test_support.h"

namespace base {
namespace win {
namespace {

// A pump that runs only when the test says so: the test waits until something was posted to the loop, then
// runs what is queued.
class ManualPump : public MessagePump {
 public:
  void Run(Delegate* delegate) override {
    while (delegate->DoWork())
      ++tasks_run_;
  }
  void Quit() override {}
  void ScheduleWork() override { posted_.Signal(); }
  void ScheduleDelayedWork(const TimeTicks&) override {}

  void WaitForPost() { posted_.Wait(); }
  int TakeTasksRun() { return std::exchange(tasks_run_, 0); }

 private:
  WaitableEvent posted_{false, false};
  int tasks_run_ = 0;
};

// How many tasks posted from `function_name` this thread has run, as the task profiler counted them.
int RunsOfTasksPostedFrom(const char* function_name) {
  ThreadData* thread_data = ThreadData::Get();
  if (!thread_data)
    return 0;
  ThreadData::BirthMap births;
  ThreadData::DeathMap deaths;
  thread_data->SnapshotMaps(&births, &deaths);
  int runs = 0;
  for (const auto& [birth, death] : deaths) {
    if (std::string(birth->location().function_name()) == function_name)
      runs += death.count();
  }
  return runs;
}

class RecordingDelegate : public ObjectWatcher::Delegate {
 public:
  void OnObjectSignaled(HANDLE object) override {
    signaled.push_back(object);
    threads.push_back(GetCurrentThreadId());
  }
  std::vector<HANDLE> signaled;
  std::vector<DWORD> threads;
};

// The thread's message loop runs on a manual pump.
class ObjectWatcherTest : public testing::Test {
 protected:
  ObjectWatcherTest() {
    loop_ = MessageLoop::CreateUnbound(MessageLoop::TYPE_CUSTOM, Bind(&ObjectWatcherTest::MakePump, Unretained(this)));
    loop_->BindToCurrentThread();
  }

  // Waits until at least one task was posted since the last wait.
  void WaitForPost() { pump_->WaitForPost(); }
  // Runs the tasks posted so far (and those they post); returns how many ran.
  int RunPendingTasks() {
    RunLoop().Run();
    return pump_->TakeTasksRun();
  }

  std::unique_ptr<MessagePump> MakePump() {
    auto pump = std::make_unique<ManualPump>();
    pump_ = pump.get();
    return pump;
  }

  ManualPump* pump_ = nullptr;
  std::unique_ptr<MessageLoop> loop_;
};

TEST_F(ObjectWatcherTest, SignalFromAnotherThreadReachesTheDelegateAsATaskHere) {
  WaitableEvent event(true, false);
  RecordingDelegate delegate;
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  EXPECT_TRUE(watcher.IsWatching());
  EXPECT_EQ(event.handle(), watcher.GetWatchedObject());

  ThreadData::Initialize();
  std::thread([&] { event.Signal(); }).join();
  WaitForPost();
  EXPECT_TRUE(delegate.signaled.empty()) << "only the posted task calls the delegate";
  EXPECT_EQ(1, RunPendingTasks());
  EXPECT_EQ(1, RunsOfTasksPostedFrom("base::win::ObjectWatcher::DoneWaiting"));

  ASSERT_EQ(1u, delegate.signaled.size());
  EXPECT_EQ(event.handle(), delegate.signaled[0]);
  EXPECT_EQ(GetCurrentThreadId(), delegate.threads[0]);
  EXPECT_FALSE(watcher.IsWatching()) << "the watch is one-shot";
  EXPECT_FALSE(watcher.StopWatching());
}

TEST_F(ObjectWatcherTest, AlreadySignalledObjectIsReportedOnceAsATask) {
  WaitableEvent event(true, true);  // stays signalled: only the one-shot registration stops repeats
  RecordingDelegate delegate;
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  EXPECT_TRUE(delegate.signaled.empty());
  WaitForPost();
  RunPendingTasks();
  ASSERT_EQ(1u, delegate.signaled.size());

  // Nothing else arrives: a new watch of the still-signalled event gives exactly one more report.
  ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  WaitForPost();
  EXPECT_EQ(1, RunPendingTasks());
  EXPECT_EQ(2u, delegate.signaled.size());
  EXPECT_EQ(0, RunPendingTasks());
}

TEST_F(ObjectWatcherTest, SecondStartIsRefusedAndTheFirstWatchStays) {
  WaitableEvent first(true, false);
  WaitableEvent second(true, false);
  RecordingDelegate delegate;
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatchingOnce(first.handle(), &delegate));
  EXPECT_FALSE(watcher.StartWatchingOnce(second.handle(), &delegate));
  EXPECT_EQ(first.handle(), watcher.GetWatchedObject());
  first.Signal();
  WaitForPost();
  RunPendingTasks();
  ASSERT_EQ(1u, delegate.signaled.size());
  EXPECT_EQ(first.handle(), delegate.signaled[0]);
}

TEST_F(ObjectWatcherTest, StopAfterTheSignalWasPostedKeepsTheDelegateUncalled) {
  WaitableEvent event(true, false);
  RecordingDelegate delegate;
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  event.Signal();
  WaitForPost();
  EXPECT_TRUE(watcher.StopWatching());
  EXPECT_FALSE(watcher.IsWatching());
  EXPECT_EQ(1, RunPendingTasks());
  EXPECT_TRUE(delegate.signaled.empty());
}

TEST_F(ObjectWatcherTest, DestroyingTheWatcherStopsTheWatch) {
  WaitableEvent event(true, false);
  RecordingDelegate delegate;
  {
    ObjectWatcher watcher;
    ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  }
  event.Signal();
  // A watch that still existed would post now; a fresh watch proves the event fires and is the only post.
  WaitableEvent other(true, true);
  ObjectWatcher control;
  ASSERT_TRUE(control.StartWatchingOnce(other.handle(), &delegate));
  WaitForPost();
  EXPECT_EQ(1, RunPendingTasks());
  ASSERT_EQ(1u, delegate.signaled.size());
  EXPECT_EQ(other.handle(), delegate.signaled[0]);
}

// Counts what the loop tells the watcher as it dies.
class LoopWatchingWatcher : public ObjectWatcher {
 public:
  void WillDestroyCurrentMessageLoop() override {
    ++loop_destructions_heard;
    ObjectWatcher::WillDestroyCurrentMessageLoop();
  }
  int loop_destructions_heard = 0;
};

class QuittingDelegate : public ObjectWatcher::Delegate {
 public:
  explicit QuittingDelegate(RunLoop* run_loop) : run_loop_(run_loop) {}
  void OnObjectSignaled(HANDLE object) override {
    signaled.push_back(object);
    run_loop_->Quit();
  }
  std::vector<HANDLE> signaled;

 private:
  RunLoop* run_loop_;
};

// A watch belongs to the loop it was started on: it listens for that loop's end only while it is active, and
// a loop that dies ends the system wait, so that the watcher can watch again on the next loop.
TEST(ObjectWatcherLoopTest, DestroyingTheLoopStopsAnActiveWatch) {
  WaitableEvent event(true, false);
  RecordingDelegate delegate;
  LoopWatchingWatcher watcher;
  {
    MessageLoop loop(MessageLoop::TYPE_DEFAULT);
    ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
    ASSERT_TRUE(watcher.StopWatching());
  }
  EXPECT_EQ(0, watcher.loop_destructions_heard) << "a stopped watch leaves the loop's observers";

  {
    MessageLoop loop(MessageLoop::TYPE_DEFAULT);
    ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  }
  EXPECT_EQ(1, watcher.loop_destructions_heard);
  EXPECT_FALSE(watcher.IsWatching());
  EXPECT_EQ(nullptr, watcher.GetWatchedObject());
  EXPECT_FALSE(watcher.StopWatching()) << "the system wait was already unregistered";

  // On a new loop the watcher may watch again, and the old event's signal reaches nobody.
  MessageLoop loop(MessageLoop::TYPE_DEFAULT);
  event.Signal();
  WaitableEvent other(true, false);
  RunLoop run_loop;
  QuittingDelegate quitting(&run_loop);
  ASSERT_TRUE(watcher.StartWatchingOnce(other.handle(), &quitting));
  other.Signal();
  run_loop.Run();
  EXPECT_EQ((std::vector<HANDLE>{other.handle()}), quitting.signaled);
  EXPECT_TRUE(delegate.signaled.empty());
}

TEST_F(ObjectWatcherTest, StopWithoutAWatchReturnsFalse) {
  ObjectWatcher watcher;
  EXPECT_FALSE(watcher.StopWatching());
  EXPECT_FALSE(watcher.IsWatching());
  EXPECT_EQ(nullptr, watcher.GetWatchedObject());
}

TEST(ObjectWatcherWithoutLoopTest, StartWithoutAMessageLoopOnTheThreadFails) {
  WaitableEvent event(true, true);
  RecordingDelegate delegate;
  ObjectWatcher watcher;
  EXPECT_FALSE(watcher.StartWatchingOnce(event.handle(), &delegate));
  EXPECT_FALSE(watcher.IsWatching());
}

// Starts a new watch from inside the report of the previous one.
class RewatchingDelegate : public ObjectWatcher::Delegate {
 public:
  RewatchingDelegate(ObjectWatcher* watcher, HANDLE next) : watcher_(watcher), next_(next) {}
  void OnObjectSignaled(HANDLE object) override {
    signaled.push_back(object);
    if (next_) {
      restarted = watcher_->StartWatchingOnce(next_, this);
      next_ = nullptr;
    }
  }
  std::vector<HANDLE> signaled;
  bool restarted = false;

 private:
  ObjectWatcher* watcher_;
  HANDLE next_;
};

TEST_F(ObjectWatcherTest, TheDelegateMayStartANewWatch) {
  WaitableEvent first(true, true);
  WaitableEvent second(true, false);
  ObjectWatcher watcher;
  RewatchingDelegate delegate(&watcher, second.handle());
  ASSERT_TRUE(watcher.StartWatchingOnce(first.handle(), &delegate));
  WaitForPost();
  RunPendingTasks();
  EXPECT_TRUE(delegate.restarted);
  EXPECT_EQ(second.handle(), watcher.GetWatchedObject());
  second.Signal();
  WaitForPost();
  RunPendingTasks();
  ASSERT_EQ(2u, delegate.signaled.size());
  EXPECT_EQ(first.handle(), delegate.signaled[0]);
  EXPECT_EQ(second.handle(), delegate.signaled[1]);
}

// Another process signals a named event, then ends: both its signal and its end are seen.
TEST_F(ObjectWatcherTest, SeesAnEventSignalledByAnotherProcessAndItsEnd) {
  const std::wstring name = test_support::UniqueName(L"object_watcher_event");
  test_support::ScopedTestHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  ASSERT_TRUE(event.valid());
  test_support::ScopedTestHandle release_child(
      CreateEventW(nullptr, TRUE, FALSE, (name + L"_release").c_str()));
  ASSERT_TRUE(release_child.valid());

  std::wstring command_line =
      L"\"" + test_support::ExecutableDir() + L"\\object_watcher_test_child.exe\" " + name;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  test_support::ScopedTestHandle child(process.hProcess);
  test_support::ScopedTestHandle child_thread(process.hThread);

  RecordingDelegate delegate;
  ObjectWatcher event_watcher;
  ObjectWatcher process_watcher;
  ASSERT_TRUE(event_watcher.StartWatchingOnce(event.get(), &delegate));
  ASSERT_TRUE(process_watcher.StartWatchingOnce(child.get(), &delegate));

  // The child signals, then waits to be released: its end cannot come first.
  WaitForPost();
  EXPECT_EQ(1, RunPendingTasks());
  ASSERT_EQ(1u, delegate.signaled.size());
  EXPECT_EQ(event.get(), delegate.signaled[0]);
  EXPECT_TRUE(process_watcher.IsWatching());

  SetEvent(release_child.get());
  WaitForPost();
  EXPECT_EQ(1, RunPendingTasks());
  ASSERT_EQ(2u, delegate.signaled.size());
  EXPECT_EQ(child.get(), delegate.signaled[1]);
  DWORD exit_code = 1;
  ASSERT_TRUE(GetExitCodeProcess(child.get(), &exit_code));
  EXPECT_EQ(0u, exit_code);
}

}  // namespace
}  // namespace win
}  // namespace base
