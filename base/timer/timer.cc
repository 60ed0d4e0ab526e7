#include "base/timer/timer.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/thread_task_runner_handle.h"

namespace base {

// The record behind a posted timer task: owned by the posted closure, so it dies with it, run or not.
class BaseTimerTaskInternal {
 public:
  explicit BaseTimerTaskInternal(Timer* timer) : timer_(timer) {}
  BaseTimerTaskInternal(const BaseTimerTaskInternal&) = delete;
  BaseTimerTaskInternal& operator=(const BaseTimerTaskInternal&) = delete;

  // Dropped without running (the runner refused it or its loop died): the timer stops.
  ~BaseTimerTaskInternal() {
    if (timer_) {
      Timer* timer = timer_;
      timer->Stop();
      timer->AbandonScheduledTask();
    }
  }

  void Run() {
    if (!timer_)
      return;  // abandoned
    Timer* timer = timer_;
    timer->scheduled_task_ = nullptr;
    timer_ = nullptr;
    // The user task may destroy the timer: nothing of it is touched after this call.
    timer->RunScheduledTask();
  }

  void Abandon() { timer_ = nullptr; }

 private:
  Timer* timer_;
};

Timer::Timer(bool retain_user_task, bool is_repeating)
    : is_repeating_(is_repeating), retain_user_task_(retain_user_task) {}

Timer::~Timer() {
  Stop();
  AbandonScheduledTask();
}

bool Timer::IsRunning() const {
  return is_running_;
}

TimeDelta Timer::GetCurrentDelay() const {
  return delay_;
}

void Timer::SetTaskRunner(scoped_refptr<SingleThreadTaskRunner> task_runner) {
  CHECK_EQ(thread_id_, 0u) << "the task runner of a timer that scheduled a task cannot change";
  task_runner_ = std::move(task_runner);
}

void Timer::Start(const Location& posted_from, TimeDelta delay, const Closure& user_task) {
  posted_from_ = posted_from;
  delay_ = delay;
  user_task_ = user_task;
  Reset();
}

void Timer::Stop() {
  is_running_ = false;
  if (!retain_user_task_)
    user_task_.Reset();
}

void Timer::Reset() {
  if (!scheduled_task_) {
    PostNewScheduledTask(delay_);
    return;
  }
  desired_run_time_ = delay_ >= TimeDelta::FromMicroseconds(1) ? TimeTicks::Now() + delay_ : TimeTicks();
  // The queued task comes up no later than needed: it will wait for the remainder itself.
  if (desired_run_time_ >= scheduled_run_time_) {
    is_running_ = true;
    return;
  }
  AbandonScheduledTask();
  PostNewScheduledTask(delay_);
}

void Timer::PostNewScheduledTask(TimeDelta delay) {
  DCHECK(!scheduled_task_);
  is_running_ = true;
  scheduled_task_ = new BaseTimerTaskInternal(this);
  scoped_refptr<SingleThreadTaskRunner> runner = task_runner_ ? task_runner_ : ThreadTaskRunnerHandle::Get();
  Closure task = Bind(&BaseTimerTaskInternal::Run, Owned(scheduled_task_));
  if (delay >= TimeDelta::FromMicroseconds(1)) {
    scheduled_run_time_ = desired_run_time_ = TimeTicks::Now() + delay;
    runner->PostDelayedTask(posted_from_, std::move(task), delay);
  } else {
    scheduled_run_time_ = desired_run_time_ = TimeTicks();
    runner->PostTask(posted_from_, std::move(task));
  }
  if (thread_id_ == 0)
    thread_id_ = PlatformThread::CurrentId();
}

void Timer::AbandonScheduledTask() {
  if (scheduled_task_) {
    scheduled_task_->Abandon();
    scheduled_task_ = nullptr;
  }
}

void Timer::RunScheduledTask() {
  if (!is_running_)
    return;  // stopped meanwhile

  // Reset to a later deadline: wait for the rest.
  if (desired_run_time_ > scheduled_run_time_) {
    const TimeTicks now = TimeTicks::Now();
    if (desired_run_time_ > now) {
      PostNewScheduledTask(desired_run_time_ - now);
      return;
    }
  }

  // A copy: the timer may be stopped, restarted or destroyed by the task.
  Closure task = user_task_;
  if (is_repeating_)
    PostNewScheduledTask(delay_);  // the period counts from the start of this run
  else
    Stop();
  task.Run();
}

}  // namespace base
