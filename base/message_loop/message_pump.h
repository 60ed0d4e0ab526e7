// A message pump is the part of a thread's task loop that sleeps and wakes. The loop (its delegate) decides
// which task runs next; the pump keeps asking it for work and sleeps when none was done, until it is quit.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_

#include "base/time/time.h"

namespace base {

class MessagePump {
 public:
  // Called by the pump on its own thread.
  class Delegate {
   public:
    virtual ~Delegate() = default;

    // Runs one immediate task; true when one ran.
    virtual bool DoWork() = 0;
    // Runs one due delayed task; true when one ran. Writes when delayed work is next due (null: none).
    virtual bool DoDelayedWork(TimeTicks* next_delayed_work_time) = 0;
    // Called when the other two found nothing; true when it did something (the pump then looks again
    // instead of sleeping).
    virtual bool DoIdleWork() = 0;
  };

  MessagePump() = default;
  virtual ~MessagePump() = default;
  MessagePump(const MessagePump&) = delete;
  MessagePump& operator=(const MessagePump&) = delete;

  // Runs until Quit is called from inside the run (by a task). Runs nest.
  virtual void Run(Delegate* delegate) = 0;
  // Ends the innermost run once the current call into the delegate returns.
  virtual void Quit() = 0;
  // Wakes the pump so that it calls DoWork. The only function that may be called from any thread.
  virtual void ScheduleWork() = 0;
  // On the pump's thread: delayed work is due at `delayed_work_time`.
  virtual void ScheduleDelayedWork(const TimeTicks& delayed_work_time) = 0;
  // Accepted for every pump; no pump of this system changes its timing for it.
  virtual void SetTimerSlack(int timer_slack) { (void)timer_slack; }
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_
