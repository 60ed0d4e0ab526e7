#include "base/message_loop/message_pump_win.h"

#include <algorithm>

#include "base/logging.h"
#include "base/metrics/histogram.h"

namespace base {

void MessagePumpWin::Run(Delegate* delegate) {
  RunWithState(delegate, nullptr);
}

void MessagePumpWin::Quit() {
  DCHECK(state_);
  if (state_)
    state_->should_quit = true;
}

void MessagePumpWin::RunWithState(Delegate* delegate, MessagePumpDispatcher* dispatcher) {
  RunState state;
  state.delegate = delegate;
  state.dispatcher = dispatcher;
  state.should_quit = false;
  state.run_depth = state_ ? state_->run_depth + 1 : 1;

  // The enclosing run's failure record is put aside for this run and given back when it ends.
  const int32_t outer_error_count = schedule_work_error_count_.exchange(0, std::memory_order_relaxed);
  const int64_t outer_error_time = last_schedule_work_error_time_.exchange(0, std::memory_order_relaxed);

  RunState* previous_state = state_;
  state_ = &state;
  active_runs_.fetch_add(1, std::memory_order_release);

  DoRunLoop();

  active_runs_.fetch_sub(1, std::memory_order_release);
  state_ = previous_state;
  schedule_work_error_count_.store(outer_error_count, std::memory_order_relaxed);
  last_schedule_work_error_time_.store(outer_error_time, std::memory_order_relaxed);
}

// static
int32_t MessagePumpWin::GetCurrentDelay(TimeTicks delayed_work_time) {
  if (delayed_work_time.is_null())
    return -1;
  // Rounded up, so that a wait never ends just before the work is due.
  const int64_t delay = (delayed_work_time - TimeTicks::Now()).InMillisecondsRoundedUp();
  return static_cast<int32_t>(std::clamp<int64_t>(delay, 0, 0x7FFFFFFF));
}

void MessagePumpWin::RecordScheduleWorkError(MessageLoopProblem problem) {
  RecordProblem(problem);
  if (active_runs_.load(std::memory_order_acquire) > 0) {
    schedule_work_error_count_.fetch_add(1, std::memory_order_relaxed);
    last_schedule_work_error_time_.store(Time::Now().ToInternalValue(), std::memory_order_relaxed);
  }
}

// static
void MessagePumpWin::RecordProblem(MessageLoopProblem problem) {
  static HistogramBase* const histogram =
      LinearHistogram::FactoryGet("Brumel.MessageLoopProblem", 1, 3, 4, HistogramBase::kReportedFlag);
  histogram->Add(problem);
}

}  // namespace base
