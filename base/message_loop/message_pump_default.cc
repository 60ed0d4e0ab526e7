#include "base/message_loop/message_pump_default.h"

namespace base {

MessagePumpDefault::MessagePumpDefault() : event_(/*manual_reset=*/false, /*initially_signaled=*/false) {}

MessagePumpDefault::~MessagePumpDefault() = default;

void MessagePumpDefault::Run(Delegate* delegate) {
  for (;;) {
    bool did_work = delegate->DoWork();
    if (!keep_running_)
      break;

    did_work |= delegate->DoDelayedWork(&delayed_work_time_);
    if (!keep_running_)
      break;

    if (did_work)
      continue;

    did_work = delegate->DoIdleWork();
    if (!keep_running_)
      break;

    if (did_work)
      continue;

    if (delayed_work_time_.is_null()) {
      event_.Wait();
    } else {
      const TimeDelta delay = delayed_work_time_ - TimeTicks::Now();
      if (delay > TimeDelta()) {
        event_.TimedWait(delay);
      } else {
        // Already due: look again without sleeping.
        delayed_work_time_ = TimeTicks();
      }
    }
  }
  // Ready for the next run (also the enclosing one, when this run was nested).
  keep_running_ = true;
}

void MessagePumpDefault::Quit() {
  keep_running_ = false;
}

void MessagePumpDefault::ScheduleWork() {
  event_.Signal();
}

void MessagePumpDefault::ScheduleDelayedWork(const TimeTicks& delayed_work_time) {
  // Only called on the pump's thread, which recomputes its wait before it next sleeps.
  delayed_work_time_ = delayed_work_time;
}

}  // namespace base
