// The pump of a thread without a Windows message queue or completion port to serve: it sleeps on an
// automatic-reset event that other threads signal to wake it, or until delayed work is due.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_

#include "base/message_loop/message_pump.h"
#include "base/synchronization/waitable_event.h"
#include "base/time/time.h"

namespace base {

class MessagePumpDefault : public MessagePump {
 public:
  MessagePumpDefault();
  ~MessagePumpDefault() override;

  // Runs nest; a pump that was quit can be run again.
  void Run(Delegate* delegate) override;
  void Quit() override;
  // Thread-safe.
  void ScheduleWork() override;
  void ScheduleDelayedWork(const TimeTicks& delayed_work_time) override;

 private:
  bool keep_running_ = true;
  WaitableEvent event_;
  TimeTicks delayed_work_time_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_
