#include "base/timer/timer.h"

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/memory/ref_counted.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/manual_task_runner_test_util.h"
#include "base/threading/thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// The timer's thread gets a runner that the test drives: queued tasks come up when the test says, which lets
// a test make a task come up before its due time, as a late reset makes it do.
class TimerTest : public ::testing::Test {
 protected:
  TimerTest() : runner_(new ManualTaskRunner), handle_(runner_) {}

  TimeDelta OnlyQueuedDelay() {
    std::deque<ManualTaskRunner::PostedTask> tasks = runner_->PendingTasks();
    EXPECT_EQ(tasks.size(), 1u);
    return tasks.empty() ? TimeDelta::Max() : tasks.front().delay;
  }

  scoped_refptr<ManualTaskRunner> runner_;
  ThreadTaskRunnerHandle handle_;
};

// Makes the next reading of the tick clock differ from every earlier one.
void LetTheClockAdvance() {
  const TimeTicks start = TimeTicks::Now();
  while (TimeTicks::Now() == start) {
  }
}

void Increment(int* count) {
  ++*count;
}

TEST_F(TimerTest, OneShotWithoutDelayPostsAnImmediateTaskAndRunsOnce) {
  for (TimeDelta delay : {TimeDelta(), TimeDelta::FromMicroseconds(-5), -TimeDelta::Max()}) {
    int runs = 0;
    Timer timer(false, false);
    timer.Start(FROM_HERE, delay, Bind(&Increment, &runs));
    EXPECT_TRUE(timer.IsRunning());
    EXPECT_EQ(OnlyQueuedDelay(), TimeDelta());
    EXPECT_TRUE(timer.desired_run_time().is_null());
    EXPECT_EQ(runner_->RunPendingTasks(), 1u);
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(timer.IsRunning());
    EXPECT_EQ(runner_->NumPendingTasks(), 0u);
  }
}

TEST_F(TimerTest, OneShotPostsItsDelayAndForgetsItsTaskAfterRunning) {
  int runs = 0;
  Timer timer(false, false);
  const TimeTicks before = TimeTicks::Now();
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(250), Bind(&Increment, &runs));
  EXPECT_EQ(OnlyQueuedDelay(), TimeDelta::FromMilliseconds(250));
  EXPECT_EQ(timer.GetCurrentDelay(), TimeDelta::FromMilliseconds(250));
  EXPECT_GE(timer.desired_run_time(), before + TimeDelta::FromMilliseconds(250));
  runner_->RunPendingTasks();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(timer.IsRunning());
  EXPECT_TRUE(timer.user_task().is_null());
}

TEST_F(TimerTest, ResetToALaterDeadlineWaitsForTheRestWithoutASecondTask) {
  int runs = 0;
  Timer timer(false, false);
  timer.Start(FROM_HERE, TimeDelta::FromSeconds(10), Bind(&Increment, &runs));
  LetTheClockAdvance();
  timer.Reset();
  // The queued task serves the later deadline: nothing more is posted.
  EXPECT_EQ(runner_->NumPendingTasks(), 1u);

  // It comes up at its old deadline (here: at once), finds the new one ahead and waits for the rest.
  const TimeTicks desired = timer.desired_run_time();
  const TimeTicks before_run = TimeTicks::Now();
  runner_->RunPendingTasks();
  EXPECT_EQ(runs, 0);
  EXPECT_TRUE(timer.IsRunning());
  const TimeDelta rest = OnlyQueuedDelay();
  EXPECT_LE(rest, desired - before_run);
  EXPECT_GT(rest, TimeDelta::FromSeconds(9));

  runner_->RunPendingTasks();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(timer.IsRunning());
  EXPECT_EQ(runner_->NumPendingTasks(), 0u);
}

TEST_F(TimerTest, RestartWithAShorterDelayAbandonsTheQueuedTask) {
  int runs = 0;
  Timer timer(false, false);
  timer.Start(FROM_HERE, TimeDelta::FromSeconds(10), Bind(&Increment, &runs));
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(5), Bind(&Increment, &runs));
  std::deque<ManualTaskRunner::PostedTask> tasks = runner_->PendingTasks();
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(tasks[1].delay, TimeDelta::FromMilliseconds(5));
  tasks.clear();
  // The abandoned task comes up too and does nothing.
  EXPECT_EQ(runner_->RunPendingTasks(), 2u);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(runner_->NumPendingTasks(), 0u);
}

// Notes its destruction.
class Witness : public RefCountedThreadSafe<Witness> {
 public:
  explicit Witness(bool* destroyed) : destroyed_(destroyed) {}
  void Touch(int* count) { ++*count; }

 private:
  friend class RefCountedThreadSafe<Witness>;
  ~Witness() { *destroyed_ = true; }
  bool* destroyed_;
};

TEST_F(TimerTest, StopReleasesTheTaskAndTheQueuedTaskRunsNothing) {
  int runs = 0;
  bool destroyed = false;
  Timer timer(false, false);
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(20),
              Bind(&Witness::Touch, scoped_refptr<Witness>(new Witness(&destroyed)), &runs));
  EXPECT_FALSE(destroyed);
  timer.Stop();
  EXPECT_TRUE(destroyed);  // released at the stop, not when the queued task goes
  EXPECT_FALSE(timer.IsRunning());
  EXPECT_EQ(runner_->RunPendingTasks(), 1u);
  EXPECT_EQ(runs, 0);
}

TEST_F(TimerTest, RetainedTaskSurvivesStopAndResetStartsItAgain) {
  int runs = 0;
  bool destroyed = false;
  Timer timer(true, false);
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(20),
              Bind(&Witness::Touch, scoped_refptr<Witness>(new Witness(&destroyed)), &runs));
  timer.Stop();
  EXPECT_FALSE(destroyed);
  EXPECT_FALSE(timer.user_task().is_null());
  runner_->RunPendingTasks();
  EXPECT_EQ(runs, 0);
  timer.Reset();
  EXPECT_TRUE(timer.IsRunning());
  runner_->RunPendingTasks();
  EXPECT_EQ(runs, 1);
}

struct RepeatProbe {
  ManualTaskRunner* runner;
  int runs = 0;
  size_t queued_during_run = 0;
};

void RecordRepeat(RepeatProbe* probe) {
  ++probe->runs;
  probe->queued_during_run = probe->runner->NumPendingTasks();
}

TEST_F(TimerTest, RepeatingTimerPostsTheNextRunBeforeRunning) {
  RepeatProbe probe{runner_.get()};
  Timer timer(true, true);
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(40), Bind(&RecordRepeat, &probe));
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(runner_->RunPendingTasks(), 1u);
    EXPECT_EQ(probe.runs, i);
    // The next period was already queued when the task started.
    EXPECT_EQ(probe.queued_during_run, 1u);
    EXPECT_EQ(OnlyQueuedDelay(), TimeDelta::FromMilliseconds(40));
    EXPECT_TRUE(timer.IsRunning());
  }
  timer.Stop();
  runner_->RunPendingTasks();
  EXPECT_EQ(probe.runs, 3);
  EXPECT_EQ(runner_->NumPendingTasks(), 0u);
}

TEST_F(TimerTest, DestroyedTimerLeavesAHarmlessTask) {
  int runs = 0;
  {
    Timer timer(true, true);
    timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(1), Bind(&Increment, &runs));
  }
  EXPECT_EQ(runner_->RunPendingTasks(), 1u);
  EXPECT_EQ(runs, 0);
}

void DeleteTimer(std::unique_ptr<Timer>* timer, int* runs) {
  timer->reset();
  ++*runs;
}

TEST_F(TimerTest, TaskMayDestroyItsTimer) {
  int runs = 0;
  for (bool repeating : {false, true}) {
    auto timer = std::make_unique<Timer>(true, repeating);
    timer->Start(FROM_HERE, TimeDelta::FromMilliseconds(3), Bind(&DeleteTimer, &timer, &runs));
    runner_->RunPendingTasks();
    EXPECT_EQ(timer, nullptr);
    // A repeating timer had queued its next run; it now does nothing.
    runner_->RunPendingTasks();
  }
  EXPECT_EQ(runs, 2);
}

TEST_F(TimerTest, TaskDroppedByItsRunnerStopsTheTimer) {
  int runs = 0;
  Timer timer(true, true);
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(7), Bind(&Increment, &runs));
  runner_->ClearPendingTasks();  // the loop died with the task in it
  EXPECT_FALSE(timer.IsRunning());

  runner_->set_refuse_posts(true);
  timer.Reset();
  EXPECT_FALSE(timer.IsRunning());
  runner_->set_refuse_posts(false);
  timer.Reset();
  EXPECT_TRUE(timer.IsRunning());
  runner_->RunPendingTasks();
  EXPECT_EQ(runs, 1);
}

TEST_F(TimerTest, ChosenRunnerReceivesTheTasks) {
  scoped_refptr<ManualTaskRunner> other(new ManualTaskRunner);
  int runs = 0;
  Timer timer(false, false);
  timer.SetTaskRunner(other);
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(2), Bind(&Increment, &runs));
  EXPECT_EQ(runner_->NumPendingTasks(), 0u);
  EXPECT_EQ(other->RunPendingTasks(), 1u);
  EXPECT_EQ(runs, 1);
}


// ---- On a real message loop, against the performance counter ----

double NowMilliseconds() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

// Everything of one scenario lives on the timer thread: the timer is made, used and destroyed there.
struct RealLoopScenario {
  std::unique_ptr<Timer> timer;
  std::unique_ptr<Timer> helper;
  double started_ms = 0;
  double reset_ms = 0;
  std::vector<double> fired_ms;
  // The tick clock at each run, and the due time of the run the timer queued before it.
  std::vector<TimeTicks> fired_ticks;
  std::vector<TimeTicks> next_due;
  bool running_after_fire = true;
  WaitableEvent done{true, false};
};

void PostAndWait(Thread* thread, Closure task) {
  WaitableEvent ran(true, false);
  ASSERT_TRUE(thread->task_runner()->PostTask(FROM_HERE, std::move(task)));
  ASSERT_TRUE(thread->task_runner()->PostTask(FROM_HERE, Bind(&WaitableEvent::Signal, Unretained(&ran))));
  ran.Wait();
}

void DestroyTimers(RealLoopScenario* scenario) {
  scenario->timer.reset();
  scenario->helper.reset();
}

void RecordOneShotFire(RealLoopScenario* scenario) {
  scenario->fired_ms.push_back(NowMilliseconds());
  scenario->running_after_fire = scenario->timer->IsRunning();
  scenario->done.Signal();
}

void StartOneShot(RealLoopScenario* scenario, TimeDelta delay) {
  scenario->timer = std::make_unique<Timer>(false, false);
  scenario->started_ms = NowMilliseconds();
  scenario->timer->Start(FROM_HERE, delay, Bind(&RecordOneShotFire, scenario));
}

TEST(TimerOnLoopTest, OneShotFiresOnceNoSoonerThanItsDelay) {
  Thread thread("TimerOnLoopTest one-shot");
  ASSERT_TRUE(thread.Start());
  RealLoopScenario scenario;
  PostAndWait(&thread, Bind(&StartOneShot, &scenario, TimeDelta::FromMilliseconds(25)));
  scenario.done.Wait();
  PostAndWait(&thread, Bind(&DestroyTimers, &scenario));
  ASSERT_EQ(scenario.fired_ms.size(), 1u);
  EXPECT_GE(scenario.fired_ms[0] - scenario.started_ms, 25.0);
  EXPECT_FALSE(scenario.running_after_fire);
}

void ResetMainTimer(RealLoopScenario* scenario) {
  scenario->reset_ms = NowMilliseconds();
  scenario->timer->Reset();
}

void StartWithHalfwayReset(RealLoopScenario* scenario) {
  StartOneShot(scenario, TimeDelta::FromMilliseconds(60));
  scenario->helper = std::make_unique<Timer>(false, false);
  scenario->helper->Start(FROM_HERE, TimeDelta::FromMilliseconds(30), Bind(&ResetMainTimer, scenario));
}

void CheckAfterTheFullDelay(RealLoopScenario* scenario, WaitableEvent* checked, bool* still_running) {
  *still_running = scenario->timer->IsRunning();
  checked->Signal();
}

TEST(TimerOnLoopTest, ResetHalfwayFiresOneFullDelayAfterTheReset) {
  Thread thread("TimerOnLoopTest reset");
  ASSERT_TRUE(thread.Start());
  RealLoopScenario scenario;
  PostAndWait(&thread, Bind(&StartWithHalfwayReset, &scenario));
  scenario.done.Wait();
  // Another full delay later nothing more has fired: the first posted task found the later deadline and
  // waited for the rest instead of running the closure.
  WaitableEvent checked(true, false);
  bool still_running = true;
  ASSERT_TRUE(thread.task_runner()->PostDelayedTask(
      FROM_HERE, Bind(&CheckAfterTheFullDelay, &scenario, &checked, &still_running), TimeDelta::FromMilliseconds(60)));
  checked.Wait();
  PostAndWait(&thread, Bind(&DestroyTimers, &scenario));
  ASSERT_EQ(scenario.fired_ms.size(), 1u);
  EXPECT_GT(scenario.reset_ms, scenario.started_ms);
  EXPECT_GE(scenario.fired_ms[0] - scenario.reset_ms, 60.0);
  EXPECT_FALSE(still_running);
}

void RecordRepeatingFire(RealLoopScenario* scenario) {
  scenario->fired_ms.push_back(NowMilliseconds());
  scenario->fired_ticks.push_back(TimeTicks::Now());
  scenario->next_due.push_back(scenario->timer->desired_run_time());
  if (scenario->fired_ms.size() == 5) {
    scenario->timer->Stop();
    scenario->done.Signal();
  }
}

void StartRepeating(RealLoopScenario* scenario) {
  scenario->timer = std::make_unique<Timer>(true, true);
  scenario->started_ms = NowMilliseconds();
  scenario->timer->Start(FROM_HERE, TimeDelta::FromMilliseconds(10), Bind(&RecordRepeatingFire, scenario));
}

TEST(TimerOnLoopTest, RepeatingTimerFiresEveryPeriodUntilStopped) {
  Thread thread("TimerOnLoopTest repeating");
  ASSERT_TRUE(thread.Start());
  RealLoopScenario scenario;
  PostAndWait(&thread, Bind(&StartRepeating, &scenario));
  scenario.done.Wait();
  WaitableEvent checked(true, false);
  bool still_running = true;
  ASSERT_TRUE(thread.task_runner()->PostDelayedTask(
      FROM_HERE, Bind(&CheckAfterTheFullDelay, &scenario, &checked, &still_running), TimeDelta::FromMilliseconds(40)));
  checked.Wait();
  PostAndWait(&thread, Bind(&DestroyTimers, &scenario));
  ASSERT_EQ(scenario.fired_ms.size(), 5u);
  EXPECT_GE(scenario.fired_ms[0] - scenario.started_ms, 10.0);
  // Each run was queued, one period ahead, when the run before it started; none comes before its time.
  for (size_t i = 1; i < scenario.fired_ticks.size(); ++i) {
    EXPECT_GE(scenario.fired_ticks[i], scenario.next_due[i - 1]) << i;
    EXPECT_LE(scenario.next_due[i - 1] - scenario.fired_ticks[i - 1], TimeDelta::FromMilliseconds(10)) << i;
  }
  EXPECT_FALSE(still_running);
}

}  // namespace
}  // namespace base
