#include "base/message_loop/message_loop.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/bind_helpers.h"
#include "base/message_loop/message_pump_default.h"
#include "base/message_loop/message_loop_test_util.h"
#include "base/profiler/task_profiler.h"
#include "base/run_loop.h"
#include "base/synchronization/waitable_event.h"
#include "base/synchronization/lock.h"
#include "base/time/time_win_internal.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/trace_category_filter.h"
#include "base/trace_event/trace_log.h"
#include "base/win/object_watcher.h"
#include "testing/test_support.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class MessageLoopTypeTest : public testing::TestWithParam<MessageLoop::Type> {
 protected:
  void SetUp() override { loop_ = MakeBoundLoop(GetParam()); }
  void TearDown() override { loop_.reset(); }

  std::unique_ptr<MessageLoop> loop_;
};

INSTANTIATE_TEST_SUITE_P(AllTypes, MessageLoopTypeTest,
                         testing::Values(MessageLoop::TYPE_DEFAULT, MessageLoop::TYPE_UI,
                                         MessageLoop::TYPE_CUSTOM, MessageLoop::TYPE_IO),
                         [](const testing::TestParamInfo<MessageLoop::Type>& info) {
                           return LoopTypeName(info.param);
                         });

TEST_P(MessageLoopTypeTest, IsTheThreadsLoopAndPublishesItsRunner) {
  EXPECT_EQ(loop_.get(), MessageLoop::current());
  EXPECT_TRUE(loop_->IsType(GetParam()));
  EXPECT_EQ(GetParam(), loop_->type());
  ASSERT_TRUE(ThreadTaskRunnerHandle::IsSet());
  EXPECT_EQ(loop_->task_runner(), ThreadTaskRunnerHandle::Get());
  EXPECT_TRUE(loop_->task_runner()->RunsTasksOnCurrentThread());
  std::thread([this] {
    EXPECT_EQ(nullptr, MessageLoop::current());
    EXPECT_FALSE(loop_->task_runner()->RunsTasksOnCurrentThread());
  }).join();
  loop_.reset();
  EXPECT_EQ(nullptr, MessageLoop::current());
  EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
}

TEST_P(MessageLoopTypeTest, ImmediateTasksRunInPostingOrderAndDelayedOnesByDueTime) {
  const auto ms = [](int64_t value) { return TimeDelta::FromMilliseconds(value); };
  // Due times are fixed from one instant, so slow posting cannot reorder the delayed tasks. An attempt counts
  // only when the immediate tasks all ran before the first delayed one fell due: a process descheduled for
  // longer than that would see due delayed tasks interleaved with them, as it should.
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::vector<std::string> order;
    RunLoop run_loop;
    // The run ends with the seventh task, so no task of this attempt is left for the next one.
    auto record = [&order, &run_loop](const char* name) {
      order.push_back(name);
      if (order.size() == 7)
        run_loop.Quit();
    };
    const TimeTicks start = TimeTicks::Now();
    const auto at = [start](TimeDelta after_start) { return start + after_start - TimeTicks::Now(); };
    TimeTicks immediate_ones_done;
    loop_->PostDelayedTask(FROM_HERE, Bind(record, "late"), at(ms(200)));
    loop_->PostTask(FROM_HERE, Bind(record, "first"));
    // One delay for both, so the later-posted one is never due first.
    const TimeDelta soon = at(ms(100));
    loop_->PostDelayedTask(FROM_HERE, Bind(record, "soon 1"), soon);
    loop_->PostDelayedTask(FROM_HERE, Bind(record, "soon 2"), soon);
    // A delay of zero or less is no delay: the task keeps its place among the immediate ones.
    loop_->PostDelayedTask(FROM_HERE, Bind(record, "second"), ms(0));
    loop_->PostDelayedTask(FROM_HERE, Bind(record, "third"), ms(-5));
    loop_->task_runner()->PostNonNestableTask(FROM_HERE, Bind([&] {
                                                 record("fourth");
                                                 immediate_ones_done = TimeTicks::Now();
                                               }));
    run_loop.Run();
    if (immediate_ones_done < start + ms(100)) {
      EXPECT_EQ((std::vector<std::string>{"first", "second", "third", "fourth", "soon 1", "soon 2", "late"}), order);
      return;
    }
  }
  FAIL() << "in five attempts the immediate tasks never all ran within 100 ms";
}

TEST_P(MessageLoopTypeTest, DelayedTasksRunNoEarlierThanAsked) {
  const int64_t delays_ms[] = {1, 3, 10, 31, 32, 45};
  int remaining = static_cast<int>(std::size(delays_ms));
  std::vector<int64_t> early_by_us;
  RunLoop run_loop;
  for (int64_t delay_ms : delays_ms) {
    const TimeDelta delay = TimeDelta::FromMilliseconds(delay_ms);
    const TimeTicks posted = TimeTicks::Now();
    loop_->PostDelayedTask(FROM_HERE, Bind([&, delay, posted] {
                             const TimeDelta waited = TimeTicks::Now() - posted;
                             if (waited < delay)
                               early_by_us.push_back((delay - waited).InMicroseconds());
                             if (--remaining == 0)
                               run_loop.Quit();
                           }),
                           delay);
  }
  run_loop.Run();
  EXPECT_EQ(0, remaining);
  EXPECT_TRUE(early_by_us.empty()) << "a task ran " << early_by_us[0] << " us early";
}

TEST_P(MessageLoopTypeTest, AThousandTasksFromEachOfFourThreadsRunInEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kTasksPerThread = 1000;
  int next_expected[kThreads] = {};
  int out_of_order = 0;
  int ran = 0;
  DWORD wrong_thread = 0;
  const DWORD loop_thread = GetCurrentThreadId();
  RunLoop run_loop;
  auto task = [&](int thread, int index) {
    if (GetCurrentThreadId() != loop_thread)
      wrong_thread = GetCurrentThreadId();
    if (next_expected[thread] != index)
      ++out_of_order;
    next_expected[thread] = index + 1;
    if (++ran == kThreads * kTasksPerThread)
      run_loop.Quit();
  };
  scoped_refptr<SingleThreadTaskRunner> runner = loop_->task_runner();
  std::vector<std::thread> threads;
  std::atomic<int> refused{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kTasksPerThread; ++i) {
        if (!runner->PostTask(FROM_HERE, Bind(task, t, i)))
          ++refused;
      }
    });
  }
  run_loop.Run();
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(kThreads * kTasksPerThread, ran);
  EXPECT_EQ(0, out_of_order);
  EXPECT_EQ(0, refused.load());
  EXPECT_EQ(0u, wrong_thread);
}

TEST_P(MessageLoopTypeTest, QuitClosurePostedFromAnotherThreadEndsTheRun) {
  RunLoop run_loop;
  WaitableEvent running(true, false);
  loop_->PostTask(FROM_HERE, Bind([&running] { running.Signal(); }));
  scoped_refptr<SingleThreadTaskRunner> runner = loop_->task_runner();
  Closure quit = run_loop.QuitClosure();
  std::thread other([&] {
    running.Wait();
    EXPECT_TRUE(runner->PostTask(FROM_HERE, quit));
  });
  run_loop.Run();
  other.join();
  EXPECT_FALSE(run_loop.running());
}

TEST_P(MessageLoopTypeTest, QuitWhenIdleRunsEveryReadyTaskFirst) {
  std::vector<int> ran;
  RunLoop run_loop;
  loop_->PostDelayedTask(FROM_HERE, Bind([&ran] { ran.push_back(4); }), TimeDelta::FromMilliseconds(2));
  loop_->PostTask(FROM_HERE, Bind([&] {
                    ran.push_back(1);
                    // Let the delayed task fall due while this task works.
                    const TimeTicks until = TimeTicks::Now() + TimeDelta::FromMilliseconds(3);
                    while (TimeTicks::Now() < until) {
                    }
                    loop_->QuitWhenIdle();
                    loop_->PostTask(FROM_HERE, Bind([&ran] { ran.push_back(3); }));
                  }));
  loop_->PostTask(FROM_HERE, Bind([&ran] { ran.push_back(2); }));
  // Not yet due when the loop goes idle: left behind.
  loop_->PostDelayedTask(FROM_HERE, Bind([&ran] { ran.push_back(5); }), TimeDelta::FromSeconds(30));
  run_loop.Run();
  // Immediate and due delayed work take turns; everything ready ran before the quit.
  EXPECT_EQ((std::vector<int>{1, 4, 2, 3}), ran);
}

TEST_P(MessageLoopTypeTest, QuitNowEndsTheRunAfterTheCurrentTask) {
  std::vector<int> ran;
  loop_->PostTask(FROM_HERE, Bind([&] {
                    ran.push_back(1);
                    loop_->QuitNow();
                    ran.push_back(2);
                  }));
  loop_->PostTask(FROM_HERE, Bind([&ran] { ran.push_back(3); }));
  loop_->Run();
  EXPECT_EQ((std::vector<int>{1, 2}), ran);
  // The rest runs in the next run.
  loop_->PostTask(FROM_HERE, Bind([&] { loop_->QuitWhenIdle(); }));
  loop_->Run();
  EXPECT_EQ((std::vector<int>{1, 2, 3}), ran);
}

TEST_P(MessageLoopTypeTest, QuitCallsOutsideARunChangeNothing) {
  loop_->QuitNow();
  loop_->QuitWhenIdle();
  bool ran = false;
  RunLoop run_loop;
  loop_->PostTask(FROM_HERE, Bind([&] {
                    ran = true;
                    run_loop.Quit();
                  }));
  run_loop.Run();
  EXPECT_TRUE(ran);
}

TEST_P(MessageLoopTypeTest, DeleteSoonDeletesOnTheLoopInATask) {
  struct Tracked {
    explicit Tracked(DWORD* deleted_on) : deleted_on_(deleted_on) {}
    ~Tracked() { *deleted_on_ = GetCurrentThreadId(); }
    DWORD* deleted_on_;
  };
  DWORD deleted_on = 0;
  loop_->DeleteSoon(FROM_HERE, new Tracked(&deleted_on));
  EXPECT_EQ(0u, deleted_on);
  loop_->PostTask(FROM_HERE, Bind([&] { loop_->QuitWhenIdle(); }));
  loop_->Run();
  EXPECT_EQ(GetCurrentThreadId(), deleted_on);
}

TEST_P(MessageLoopTypeTest, ATaskThatRunsANestedLoopGetsNoTasksRunInsideIt) {
  std::vector<std::string> order;
  loop_->PostTask(FROM_HERE, Bind([&] {
                    order.push_back("outer task");
                    RunLoop nested;
                    // Quit before it runs: returns at once, and nothing posted ran inside.
                    nested.Quit();
                    loop_->PostTask(FROM_HERE, Bind([&order] { order.push_back("posted from outer task"); }));
                    nested.Run();
                    order.push_back("outer task ends");
                  }));
  loop_->PostTask(FROM_HERE, Bind([&] { loop_->QuitWhenIdle(); }));
  loop_->Run();
  EXPECT_EQ((std::vector<std::string>{"outer task", "outer task ends", "posted from outer task"}), order);
}

class RecordingDestructionObserver : public MessageLoop::DestructionObserver {
 public:
  RecordingDestructionObserver(std::vector<std::string>* calls, std::string name)
      : calls_(calls), name_(std::move(name)) {}
  void WillDestroyCurrentMessageLoop() override {
    calls_->push_back(name_);
    if (on_destroy)
      on_destroy();
  }
  std::function<void()> on_destroy;

 private:
  std::vector<std::string>* calls_;
  std::string name_;
};

// Posts to a loop as it dies and after it died: each fails and its task never runs. The closure dies on a
// thread that may destroy it: the poster's, which for a post from the loop's own thread means before the
// loop is gone.
TEST_P(MessageLoopTypeTest, PostsToADyingOrDeadLoopFailAndTheirClosuresDieOnThePoster) {
  struct Bound {
    explicit Bound(DWORD* released_on) : released_on_(released_on) {}
    ~Bound() { *released_on_ = GetCurrentThreadId(); }
    DWORD* released_on_;
  };
  // Runs `hook` as the closure holding it is destroyed.
  struct OnDestroy {
    explicit OnDestroy(std::function<void()> hook) : hook_(std::move(hook)) {}
    ~OnDestroy() { hook_(); }
    std::function<void()> hook_;
  };
  enum When { kWhileTasksAreDestroyed, kWhileObserversAreTold, kAfterDestruction };
  const struct {
    const char* name;
    When when;
    bool from_loop_thread;
  } kRows[] = {
      {"while its tasks are destroyed", kWhileTasksAreDestroyed, false},
      {"while its tasks are destroyed, by one of them", kWhileTasksAreDestroyed, true},
      {"while its observers are told", kWhileObserversAreTold, false},
      {"while its observers are told, by one of them", kWhileObserversAreTold, true},
      {"after it died", kAfterDestruction, false},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    if (!loop_)
      loop_ = MakeBoundLoop(GetParam());
    scoped_refptr<SingleThreadTaskRunner> runner = loop_->task_runner();
    DWORD released_on = 0;
    DWORD poster = GetCurrentThreadId();
    bool posted = true;
    bool ran = false;
    const auto post = [&] {
      posted = runner->PostTask(FROM_HERE,
                                Bind([](bool* ran, Bound*) { *ran = true; }, &ran, Owned(new Bound(&released_on))));
    };
    // Another thread posts once asked, while the asking thread waits for its post to return.
    WaitableEvent ask(false, false);
    WaitableEvent answered(false, false);
    std::thread other;
    if (!row.from_loop_thread) {
      other = std::thread([&] {
        ask.Wait();
        poster = GetCurrentThreadId();
        post();
        answered.Signal();
      });
    }
    const std::function<void()> post_now = [&] {
      if (row.from_loop_thread) {
        post();
      } else {
        ask.Signal();
        answered.Wait();
      }
    };
    std::vector<std::string> calls;
    RecordingDestructionObserver observer(&calls, "observer");
    if (row.when == kWhileTasksAreDestroyed)
      loop_->PostTask(FROM_HERE, Bind([](OnDestroy*) {}, Owned(new OnDestroy(post_now))));
    if (row.when == kWhileObserversAreTold) {
      observer.on_destroy = post_now;
      loop_->AddDestructionObserver(&observer);
    }
    loop_.reset();
    if (row.when == kAfterDestruction)
      post_now();
    // Released by now, the loop being gone or the post returned.
    const DWORD released_by_then = released_on;
    if (other.joinable())
      other.join();
    EXPECT_FALSE(posted);
    EXPECT_FALSE(ran);
    EXPECT_EQ(poster, released_by_then);
  }
}

TEST_P(MessageLoopTypeTest, DestructionObserversAreToldOnceAndMayRemoveOthers) {
  std::vector<std::string> calls;
  RecordingDestructionObserver a(&calls, "a");
  RecordingDestructionObserver b(&calls, "b");
  RecordingDestructionObserver c(&calls, "c");
  RecordingDestructionObserver removed(&calls, "removed");
  loop_->AddDestructionObserver(&a);
  loop_->AddDestructionObserver(&a);
  loop_->AddDestructionObserver(&b);
  loop_->AddDestructionObserver(&removed);
  loop_->AddDestructionObserver(&c);
  loop_->RemoveDestructionObserver(&removed);
  bool tasks_gone_when_told = false;
  bool queued_task_ran = false;
  loop_->PostTask(FROM_HERE, Bind([&queued_task_ran] { queued_task_ran = true; }));
  MessageLoop* loop = loop_.get();
  // b removes itself and a (already told) during the notification; c is still told.
  b.on_destroy = [&] {
    loop->RemoveDestructionObserver(&b);
    loop->RemoveDestructionObserver(&a);
    tasks_gone_when_told = !queued_task_ran;
  };
  loop_.reset();
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), calls);
  EXPECT_TRUE(tasks_gone_when_told);
  EXPECT_FALSE(queued_task_ran);
}

// A closure argument whose destruction posts another such closure, up to a limit.
class Reposter {
 public:
  Reposter(scoped_refptr<SingleThreadTaskRunner> runner, int* destroyed, int limit)
      : runner_(std::move(runner)), destroyed_(destroyed), limit_(limit) {}
  ~Reposter() {
    if (++*destroyed_ < limit_)
      runner_->PostTask(FROM_HERE, Bind([](Reposter*) {}, Owned(new Reposter(runner_, destroyed_, limit_))));
  }

 private:
  scoped_refptr<SingleThreadTaskRunner> runner_;
  int* destroyed_;
  int limit_;
};

// Posts to `loop`, `delay` ahead, a task whose closure posts another such task as it is destroyed, until
// `limit` closures were destroyed; then destroys the loop. Returns how many closures had been destroyed when
// the loop told its destruction observers.
int DestroyedWhenObserversAreTold(std::unique_ptr<MessageLoop>* loop, int limit, TimeDelta delay) {
  int destroyed = 0;
  int destroyed_when_observers_told = -1;
  std::vector<std::string> calls;
  RecordingDestructionObserver observer(&calls, "observer");
  observer.on_destroy = [&] { destroyed_when_observers_told = destroyed; };
  (*loop)->AddDestructionObserver(&observer);
  (*loop)->PostDelayedTask(FROM_HERE,
                           Bind([](Reposter*) {}, Owned(new Reposter((*loop)->task_runner(), &destroyed, limit))),
                           delay);
  loop->reset();
  return destroyed_when_observers_told;
}

TEST_P(MessageLoopTypeTest, DestructionGivesUpOnTasksThatKeepPostingAfterAHundredPasses) {
  // One task destroyed per pass; the loop gave up after the last pass (the task queued by it is left in the
  // dead queue rather than chased forever).
  EXPECT_EQ(100, DestroyedWhenObserversAreTold(&loop_, 150, TimeDelta()));
}

TEST_P(MessageLoopTypeTest, TasksPostingOnDestructionAreAllDestroyedWhenTheyStopInTime) {
  EXPECT_EQ(7, DestroyedWhenObserversAreTold(&loop_, 7, TimeDelta::FromSeconds(60)));
}

TEST(MessageLoopTest, PostsBeforeBindingAreQueuedAndRunOnTheBindingThread) {
  std::unique_ptr<MessageLoop> loop = MessageLoop::CreateUnbound(MessageLoop::TYPE_DEFAULT, MessageLoop::MessagePumpFactory());
  EXPECT_EQ(nullptr, loop->pump());
  std::vector<int> ran;
  DWORD ran_on = 0;
  for (int i = 0; i < 3; ++i) {
    loop->PostTask(FROM_HERE, Bind([&ran, &ran_on, i] {
                     ran.push_back(i);
                     ran_on = GetCurrentThreadId();
                   }));
  }
  DWORD thread_id = 0;
  std::thread([&] {
    thread_id = GetCurrentThreadId();
    loop->BindToCurrentThread();
    EXPECT_EQ(loop.get(), MessageLoop::current());
    loop->PostTask(FROM_HERE, Bind([&] { loop->QuitWhenIdle(); }));
    loop->Run();
    loop.reset();
  }).join();
  EXPECT_EQ((std::vector<int>{0, 1, 2}), ran);
  EXPECT_EQ(thread_id, ran_on);
}

TEST(MessageLoopTest, IOLoopIsFoundWithItsIOFunctions) {
  std::unique_ptr<MessageLoop> loop = MessageLoop::CreateUnbound(MessageLoop::TYPE_IO, MessageLoop::MessagePumpFactory());
  loop->BindToCurrentThread();
  EXPECT_EQ(loop.get(), MessageLoopForIO::current());
  EXPECT_TRUE(loop->IsType(MessageLoop::TYPE_IO));
}

// A default pump that counts its wake-ups.
class CountingPump : public MessagePumpDefault {
 public:
  explicit CountingPump(std::atomic<int>* wake_ups) : wake_ups_(wake_ups) {}
  void ScheduleWork() override {
    ++*wake_ups_;
    MessagePumpDefault::ScheduleWork();
  }

 private:
  std::atomic<int>* wake_ups_;
};

TEST(MessageLoopTest, CustomLoopRunsOnThePumpItsFactoryMadeAndBindingWakesItOnce) {
  std::atomic<int> wake_ups{0};
  MessagePump* made = nullptr;
  std::unique_ptr<MessageLoop> loop =
      MessageLoop::CreateUnbound(MessageLoop::TYPE_CUSTOM, Bind([&wake_ups, &made] {
                                   auto pump = std::make_unique<CountingPump>(&wake_ups);
                                   made = pump.get();
                                   return std::unique_ptr<MessagePump>(std::move(pump));
                                 }));
  int ran = 0;
  for (int i = 0; i < 3; ++i)
    loop->PostTask(FROM_HERE, Bind([&ran] { ++ran; }));
  EXPECT_EQ(nullptr, made);
  loop->BindToCurrentThread();
  EXPECT_EQ(made, loop->pump());
  EXPECT_EQ(1, wake_ups.load());
  loop->PostTask(FROM_HERE, Bind([&] { loop->QuitWhenIdle(); }));
  // Still scheduled from binding: no second wake-up.
  EXPECT_EQ(1, wake_ups.load());
  loop->Run();
  EXPECT_EQ(3, ran);
}

// What the trace log's event callback saw: complete events arrive as a begin and an end.
struct TracedEvent {
  char phase;
  std::string category;
  std::string name;
  std::vector<std::string> arg_names;
  std::vector<std::string> string_args;
  std::vector<unsigned long long> int_args;
};
Lock g_traced_lock;
std::vector<TracedEvent>* g_traced = nullptr;

void RecordTracedEvent(TimeTicks, char phase, const unsigned char* category_group_enabled, const char* name,
                       const char*, unsigned long long, int num_args, const char* const arg_names[],
                       const unsigned char arg_types[], const unsigned long long arg_values[], unsigned int) {
  TracedEvent event{phase, trace_event::TraceLog::GetCategoryGroupName(category_group_enabled), name, {}, {}, {}};
  for (int i = 0; i < num_args; ++i) {
    event.arg_names.push_back(arg_names[i]);
    if (arg_types[i] == trace_event::kTraceValueTypeString)
      event.string_args.push_back(reinterpret_cast<const char*>(arg_values[i]));
    else
      event.int_args.push_back(arg_values[i]);
  }
  AutoLock hold(g_traced_lock);
  if (g_traced)
    g_traced->push_back(std::move(event));
}

class TracedLoopTest : public testing::Test {
 protected:
  void SetUp() override {
    g_traced = &events_;
    trace_event::TraceCategoryFilter filter;
    filter.AddIncludedCategory("toplevel");
    filter.AddIncludedCategory("base");
    trace_event::TraceLog::GetInstance()->SetEventCallbackEnabledForTesting(filter, &RecordTracedEvent);
  }
  void TearDown() override {
    trace_event::TraceLog::GetInstance()->SetEventCallbackDisabledForTesting();
    AutoLock hold(g_traced_lock);
    g_traced = nullptr;
  }

  std::vector<TracedEvent> Named(const std::string& name) {
    AutoLock hold(g_traced_lock);
    std::vector<TracedEvent> named;
    for (const TracedEvent& event : events_) {
      if (event.name == name)
        named.push_back(event);
    }
    return named;
  }

  std::vector<TracedEvent> events_;
};

void PostedFromHere(MessageLoop* loop, Closure task) {
  loop->PostTask(Location("PostedFromHere", "posting_file.cc", 77, nullptr), std::move(task));
}

TEST_F(TracedLoopTest, EachTaskRunIsATopLevelEventNamingWhereItWasPosted) {
  MessageLoop loop(MessageLoop::TYPE_DEFAULT);
  int ran = 0;
  PostedFromHere(&loop, Bind([&ran] { ++ran; }));
  PostedFromHere(&loop, Bind([&] {
                   ++ran;
                   loop.QuitWhenIdle();
                 }));
  loop.Run();
  ASSERT_EQ(2, ran);
  const std::vector<TracedEvent> runs = Named("MessageLoop::RunTask");
  ASSERT_EQ(4u, runs.size());
  for (size_t i = 0; i < runs.size(); ++i)
    EXPECT_EQ(i % 2 == 0 ? 'B' : 'E', runs[i].phase) << i;
  EXPECT_EQ("toplevel", runs[0].category);
  EXPECT_EQ((std::vector<std::string>{"src_file", "src_func"}), runs[0].arg_names);
  EXPECT_EQ((std::vector<std::string>{"posting_file.cc", "PostedFromHere"}), runs[0].string_args);
}

TEST_F(TracedLoopTest, EachWindowsMessageOfTheUIPumpIsTracedWithItsNumber) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  HandlerWindow window;
  window.SetHandler(WM_APP + 5, [&](WPARAM) { loop.QuitWhenIdle(); });
  window.Post(WM_APP + 5);
  loop.Run();
  const std::vector<TracedEvent> messages = Named("MessagePumpForUI::ProcessMessageHelper");
  bool found = false;
  for (const TracedEvent& event : messages) {
    if (event.phase == 'B' && event.int_args == std::vector<unsigned long long>{WM_APP + 5}) {
      EXPECT_EQ("base", event.category);
      EXPECT_EQ((std::vector<std::string>{"message"}), event.arg_names);
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

TEST(MessageLoopTest, HeapProfilerSeesThePostingFileAsTheTaskContext) {
  trace_event::AllocationContextTracker::SetCaptureEnabled(true);
  MessageLoop loop(MessageLoop::TYPE_DEFAULT);
  std::vector<std::string> contexts_in_task;
  PostedFromHere(&loop, Bind([&] {
                   for (const char* context :
                        trace_event::AllocationContextTracker::GetInstanceForCurrentThread()->task_contexts())
                     contexts_in_task.push_back(context);
                   loop.QuitWhenIdle();
                 }));
  loop.Run();
  trace_event::AllocationContextTracker* tracker =
      trace_event::AllocationContextTracker::GetInstanceForCurrentThread();
  const bool popped = tracker && tracker->task_contexts().empty();
  trace_event::AllocationContextTracker::SetCaptureEnabled(false);
  EXPECT_EQ((std::vector<std::string>{"posting_file.cc"}), contexts_in_task);
  EXPECT_TRUE(popped);
}

// The profiler's record of runs of tasks posted from `function_name` on this thread.
bool FindDeaths(const char* function_name, int32_t* births, DeathData* deaths) {
  ThreadData::BirthMap birth_map;
  ThreadData::DeathMap death_map;
  ThreadData* thread_data = ThreadData::Get();
  if (!thread_data)
    return false;
  thread_data->SnapshotMaps(&birth_map, &death_map);
  for (const auto& [location, birth] : birth_map) {
    if (std::string(location.function_name()) != function_name)
      continue;
    *births = birth.birth_count();
    for (const auto& [death_birth, death] : death_map) {
      if (death_birth->location().function_name() == location.function_name() &&
          death_birth->location().line_number() == location.line_number()) {
        *deaths = death;
        return true;
      }
    }
  }
  return false;
}

TEST(MessageLoopTest, TaskProfilerCountsEveryPostAndRun) {
  ThreadData::Initialize();
  MessageLoop loop(MessageLoop::TYPE_DEFAULT);
  for (int i = 0; i < 5; ++i)
    PostedFromHere(&loop, Bind([] {}));
  loop.PostTask(FROM_HERE, Bind([&] { loop.QuitWhenIdle(); }));
  loop.Run();
  int32_t births = 0;
  DeathData deaths;
  ASSERT_TRUE(FindDeaths("PostedFromHere", &births, &deaths));
  EXPECT_EQ(5, births);
  EXPECT_EQ(5, deaths.count());
}

// The tick clock of the nested-run test, in microseconds: it moves only when the test moves it, so that the time
// a loaded machine takes between the steps is not counted anywhere.
std::atomic<int64_t> g_clock_us{1000000};

int64_t TestClock() {
  return g_clock_us.load();
}

TEST(MessageLoopTest, TimeInANestedRunIsNotTheEnclosingTasksRunTime) {
  ThreadData::Initialize();
  const time_internal::TickFunction system_clock = time_internal::SetTickFunctionForTesting(&TestClock);
  MessageLoop loop(MessageLoop::TYPE_UI);
  HandlerWindow window;
  constexpr int kOwnMs = 3;
  constexpr int kNestedMs = 40;
  // Work done inside the nested run, not by the task itself.
  window.SetHandler(WM_APP, [&](WPARAM) { g_clock_us += kNestedMs * 1000; });
  const int64_t start_us = g_clock_us;
  int64_t task_end_us = 0;
  PostedFromHere(&loop, Bind([&] {
                   g_clock_us += kOwnMs * 1000;  // the task's own work
                   RunLoop nested;
                   window.Post(WM_APP);
                   loop.PostTask(FROM_HERE, Bind([] {}));  // held back: tasks do not run inside tasks
                   window.SetHandler(WM_APP + 1, [&](WPARAM) { nested.Quit(); });
                   window.Post(WM_APP + 1);
                   nested.Run();
                   task_end_us = g_clock_us;
                   loop.QuitWhenIdle();
                 }));
  loop.Run();
  time_internal::SetTickFunctionForTesting(system_clock);
  int32_t births = 0;
  DeathData deaths;
  ASSERT_TRUE(FindDeaths("PostedFromHere", &births, &deaths));
  ASSERT_EQ(1, deaths.count());
  EXPECT_EQ((kOwnMs + kNestedMs) * 1000, task_end_us - start_us) << "the nested run happened inside the task";
  EXPECT_EQ(kOwnMs, deaths.run_duration_sum());
}

class QuittingWatchDelegate : public win::ObjectWatcher::Delegate {
 public:
  void OnObjectSignaled(HANDLE object) override {
    signaled.push_back(object);
    thread = GetCurrentThreadId();
    if (run_loop)
      run_loop->Quit();
  }
  std::vector<HANDLE> signaled;
  DWORD thread = 0;
  RunLoop* run_loop = nullptr;
};

TEST(MessageLoopTest, ObjectWatcherSeesAnEventSignalledByAnotherProcessOnTheLoop) {
  MessageLoop loop(MessageLoop::TYPE_DEFAULT);
  const std::wstring name = test_support::UniqueName(L"loop_watched_event");
  test_support::ScopedTestHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  test_support::ScopedTestHandle release_child(CreateEventW(nullptr, TRUE, FALSE, (name + L"_release").c_str()));
  ASSERT_TRUE(event.valid() && release_child.valid());
  std::wstring command_line = L"\"" + test_support::ExecutableDir() + L"\\object_watcher_test_child.exe\" " + name;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process));
  test_support::ScopedTestHandle child(process.hProcess);
  test_support::ScopedTestHandle child_thread(process.hThread);

  QuittingWatchDelegate event_delegate;
  QuittingWatchDelegate process_delegate;
  win::ObjectWatcher event_watcher;
  win::ObjectWatcher process_watcher;
  ASSERT_TRUE(event_watcher.StartWatchingOnce(event.get(), &event_delegate));
  ASSERT_TRUE(process_watcher.StartWatchingOnce(child.get(), &process_delegate));

  RunLoop first;
  event_delegate.run_loop = &first;
  first.Run();
  ASSERT_EQ((std::vector<HANDLE>{event.get()}), event_delegate.signaled);
  EXPECT_EQ(GetCurrentThreadId(), event_delegate.thread);
  EXPECT_TRUE(process_delegate.signaled.empty());  // the child waits to be released

  RunLoop second;
  process_delegate.run_loop = &second;
  SetEvent(release_child.get());
  second.Run();
  ASSERT_EQ((std::vector<HANDLE>{child.get()}), process_delegate.signaled);
  EXPECT_EQ(GetCurrentThreadId(), process_delegate.thread);
  DWORD exit_code = 1;
  ASSERT_TRUE(GetExitCodeProcess(child.get(), &exit_code));
  EXPECT_EQ(0u, exit_code);
}

}  // namespace
}  // namespace base
