#include "base/win/object_watcher.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread_task_runner_handle.h"
#include "testing/test_support.h"

namespace base {
namespace win {
namespace {

// The least a thread needs to receive tasks: a locked list of posted closures that the test runs by hand,
// and an event that tells when something was posted.
class ManualTaskRunner : public SingleThreadTaskRunner {
 public:
  ManualTaskRunner() : thread_id_(GetCurrentThreadId()) {}

  bool PostDelayedTask(const Location& from_here, Closure task, TimeDelta) override {
    AutoLock hold(lock_);
    tasks_.push_back({from_here, std::move(task)});
    posted_.Signal();
    return true;
  }
  bool PostNonNestableDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override {
    return PostDelayedTask(from_here, std::move(task), delay);
  }
  bool RunsTasksOnCurrentThread() const override { return GetCurrentThreadId() == thread_id_; }

  // Waits until at least one task was posted since the last wait.
  void WaitForPost() { posted_.Wait(); }

  // Runs the tasks posted so far; returns how many ran.
  int RunPendingTasks() {
    std::deque<std::pair<Location, Closure>> tasks;
    {
      AutoLock hold(lock_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks) {
      last_posted_from_ = task.first;
      task.second.Run();
    }
    return static_cast<int>(tasks.size());
  }

  const Location& last_posted_from() const { return last_posted_from_; }

 private:
  ~ManualTaskRunner() override = default;

  const DWORD thread_id_;
  Lock lock_;
  std::deque<std::pair<Location, Closure>> tasks_;
  WaitableEvent posted_{false, false};
  Location last_posted_from_;
};

class RecordingDelegate : public ObjectWatcher::Delegate {
 public:
  void OnObjectSignaled(HANDLE object) override {
    signaled.push_back(object);
    threads.push_back(GetCurrentThreadId());
  }
  std::vector<HANDLE> signaled;
  std::vector<DWORD> threads;
};

class ObjectWatcherTest : public testing::Test {
 protected:
  ObjectWatcherTest()
      : runner_(MakeRefCounted<ManualTaskRunner>()), handle_(std::make_unique<ThreadTaskRunnerHandle>(runner_)) {}

  scoped_refptr<ManualTaskRunner> runner_;
  std::unique_ptr<ThreadTaskRunnerHandle> handle_;
};

TEST_F(ObjectWatcherTest, SignalFromAnotherThreadReachesTheDelegateAsATaskHere) {
  WaitableEvent event(true, false);
  RecordingDelegate delegate;
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  EXPECT_TRUE(watcher.IsWatching());
  EXPECT_EQ(event.handle(), watcher.GetWatchedObject());

  std::thread([&] { event.Signal(); }).join();
  runner_->WaitForPost();
  EXPECT_TRUE(delegate.signaled.empty()) << "only the posted task calls the delegate";
  EXPECT_EQ(1, runner_->RunPendingTasks());
  EXPECT_STREQ("base::win::ObjectWatcher::DoneWaiting", runner_->last_posted_from().function_name());

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
  runner_->WaitForPost();
  runner_->RunPendingTasks();
  ASSERT_EQ(1u, delegate.signaled.size());

  // Nothing else arrives: a new watch of the still-signalled event gives exactly one more report.
  ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  runner_->WaitForPost();
  EXPECT_EQ(1, runner_->RunPendingTasks());
  EXPECT_EQ(2u, delegate.signaled.size());
  EXPECT_EQ(0, runner_->RunPendingTasks());
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
  runner_->WaitForPost();
  runner_->RunPendingTasks();
  ASSERT_EQ(1u, delegate.signaled.size());
  EXPECT_EQ(first.handle(), delegate.signaled[0]);
}

TEST_F(ObjectWatcherTest, StopAfterTheSignalWasPostedKeepsTheDelegateUncalled) {
  WaitableEvent event(true, false);
  RecordingDelegate delegate;
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  event.Signal();
  runner_->WaitForPost();
  EXPECT_TRUE(watcher.StopWatching());
  EXPECT_FALSE(watcher.IsWatching());
  EXPECT_EQ(1, runner_->RunPendingTasks());
  EXPECT_TRUE(delegate.signaled.empty());
}

TEST_F(ObjectWatcherTest, DestroyingTheWatcherOrItsLoopStopsTheWatch) {
  WaitableEvent event(true, false);
  RecordingDelegate delegate;
  {
    ObjectWatcher watcher;
    ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  }
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  watcher.WillDestroyCurrentMessageLoop();
  EXPECT_FALSE(watcher.IsWatching());
  event.Signal();
  // A watch that still existed would post now; a fresh watch proves the event fires and is the only post.
  WaitableEvent other(true, true);
  ObjectWatcher control;
  ASSERT_TRUE(control.StartWatchingOnce(other.handle(), &delegate));
  runner_->WaitForPost();
  EXPECT_EQ(1, runner_->RunPendingTasks());
  ASSERT_EQ(1u, delegate.signaled.size());
  EXPECT_EQ(other.handle(), delegate.signaled[0]);
}

TEST_F(ObjectWatcherTest, StopWithoutAWatchReturnsFalse) {
  ObjectWatcher watcher;
  EXPECT_FALSE(watcher.StopWatching());
  EXPECT_FALSE(watcher.IsWatching());
  EXPECT_EQ(nullptr, watcher.GetWatchedObject());
}

TEST(ObjectWatcherWithoutLoopTest, StartWithoutATaskRunnerOnTheThreadFails) {
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
  runner_->WaitForPost();
  runner_->RunPendingTasks();
  EXPECT_TRUE(delegate.restarted);
  EXPECT_EQ(second.handle(), watcher.GetWatchedObject());
  second.Signal();
  runner_->WaitForPost();
  runner_->RunPendingTasks();
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
  runner_->WaitForPost();
  EXPECT_EQ(1, runner_->RunPendingTasks());
  ASSERT_EQ(1u, delegate.signaled.size());
  EXPECT_EQ(event.get(), delegate.signaled[0]);
  EXPECT_TRUE(process_watcher.IsWatching());

  SetEvent(release_child.get());
  runner_->WaitForPost();
  EXPECT_EQ(1, runner_->RunPendingTasks());
  ASSERT_EQ(2u, delegate.signaled.size());
  EXPECT_EQ(child.get(), delegate.signaled[1]);
  DWORD exit_code = 1;
  ASSERT_TRUE(GetExitCodeProcess(child.get(), &exit_code));
  EXPECT_EQ(0u, exit_code);
}

}  // namespace
}  // namespace win
}  // namespace base
