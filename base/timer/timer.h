// Runs a closure after a delay, once or repeatedly, on a single-thread task runner (by default the runner of
// the thread that starts it). Built on posted delayed tasks only: restarting a running timer with a later
// deadline does not post again; the queued task notices the new deadline when it comes up and waits for the
// rest. A timer is used on one thread.
//
//   Timer timer(false, false);  // one-shot, forgets its task when stopped
//   timer.Start(FROM_HERE, TimeDelta::FromSeconds(10), Bind(&Writer::Commit, Unretained(this)));
//   ...
//   timer.Reset();  // ten seconds from now instead
#ifndef BASE_TIMER_TIMER_H_
#define BASE_TIMER_TIMER_H_

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/single_thread_task_runner.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"

namespace base {

class BaseTimerTaskInternal;

class Timer {
 public:
  // `retain_user_task` keeps the closure across Stop (so that Reset can start it again); a repeating timer
  // runs its closure every delay until stopped.
  Timer(bool retain_user_task, bool is_repeating);
  // Stops the timer; a task still queued does nothing when it comes up.
  virtual ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  virtual bool IsRunning() const;
  virtual TimeDelta GetCurrentDelay() const;
  // The runner that receives the timer's tasks; only before anything was scheduled.
  virtual void SetTaskRunner(scoped_refptr<SingleThreadTaskRunner> task_runner);
  // Runs `user_task` after `delay` (then every `delay` when repeating). A zero or negative delay posts an
  // immediate task.
  virtual void Start(const Location& posted_from, TimeDelta delay, const Closure& user_task);
  // A queued task stays queued and does nothing.
  virtual void Stop();
  // Starts the delay again from now with the same closure.
  virtual void Reset();

  const Closure& user_task() const { return user_task_; }
  const TimeTicks& desired_run_time() const { return desired_run_time_; }

 private:
  friend class BaseTimerTaskInternal;

  void PostNewScheduledTask(TimeDelta delay);
  // The queued task forgets this timer and will do nothing.
  void AbandonScheduledTask();
  // Called by the queued task when it comes up.
  void RunScheduledTask();

  BaseTimerTaskInternal* scheduled_task_ = nullptr;  // owned by the posted closure
  scoped_refptr<SingleThreadTaskRunner> task_runner_;
  Location posted_from_;
  TimeDelta delay_;
  Closure user_task_;
  TimeTicks scheduled_run_time_;
  TimeTicks desired_run_time_;
  PlatformThreadId thread_id_ = 0;
  const bool is_repeating_;
  const bool retain_user_task_;
  bool is_running_ = false;
};

}  // namespace base

#endif  // BASE_TIMER_TIMER_H_
