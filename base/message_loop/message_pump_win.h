// What the Windows pumps share: the stack of runs, the time delayed work is due, the flag that keeps at
// most one wake-up in flight, and the record of wake-ups that could not be posted.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/message_loop/message_pump.h"
#include "base/time/time.h"

namespace base {

class MessagePumpDispatcher;

class MessagePumpWin : public MessagePump {
 public:
  // Values recorded in "Brumel.MessageLoopProblem". Recorded data: the numbers must not change.
  enum MessageLoopProblem : int32_t {
    MESSAGE_POST_ERROR = 0,     // the UI wake-up message could not be posted
    COMPLETION_POST_ERROR = 1,  // the IO wake-up packet could not be posted
    SET_TIMER_ERROR = 2,        // the UI window timer could not be set
  };

  MessagePumpWin() = default;
  ~MessagePumpWin() override = default;

  void Run(Delegate* delegate) override;
  void Quit() override;

  // Wake-ups of the current run that could not be posted, and when the last one failed (null: none).
  // Readable from any thread.
  int32_t schedule_work_error_count() const { return schedule_work_error_count_.load(std::memory_order_relaxed); }
  Time last_schedule_work_error_time() const {
    return Time::FromInternalValue(last_schedule_work_error_time_.load(std::memory_order_relaxed));
  }

  // Milliseconds from now until `delayed_work_time`, rounded up: -1 when it is null, 0 when it is due,
  // at most 0x7FFFFFFF.
  static int32_t GetCurrentDelay(TimeTicks delayed_work_time);

 protected:
  // One per active run, on the stack of that run.
  struct RunState {
    Delegate* delegate;
    MessagePumpDispatcher* dispatcher;  // null unless the run was started with one
    bool should_quit;
    int32_t run_depth;  // 1 for the outermost run
  };

  // Pushes a run with `dispatcher`, runs DoRunLoop until it is quit, and pops the run.
  void RunWithState(Delegate* delegate, MessagePumpDispatcher* dispatcher);

  virtual void DoRunLoop() = 0;

  int32_t GetCurrentDelay() const { return GetCurrentDelay(delayed_work_time_); }

  // From any thread, after a wake-up failed to post: records `problem` and, only while a run is active,
  // counts the failure for that run.
  void RecordScheduleWorkError(MessageLoopProblem problem);
  // Records a problem in "Brumel.MessageLoopProblem".
  static void RecordProblem(MessageLoopProblem problem);

  // Written only on the pump's thread.
  TimeTicks delayed_work_time_;
  // 1 while a wake-up message or packet is in flight; changed only by atomic exchange and store.
  std::atomic<int32_t> have_work_{0};
  // The innermost active run; null outside a run. Only the pump's thread reads it.
  RunState* state_ = nullptr;

 private:
  // The failure counters live here, not in the run state: ScheduleWork runs on other threads, which must
  // never reach into a run state that the pump's thread may be popping.
  std::atomic<int32_t> active_runs_{0};
  std::atomic<int32_t> schedule_work_error_count_{0};
  std::atomic<int64_t> last_schedule_work_error_time_{0};
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_
