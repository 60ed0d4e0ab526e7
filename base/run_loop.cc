#include "base/run_loop.h"

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_for_ui.h"
#include "base/profiler/task_profiler.h"

namespace base {

RunLoop::RunLoop() : RunLoop(nullptr) {}

RunLoop::RunLoop(MessagePumpDispatcher* dispatcher) : loop_(MessageLoop::current()), dispatcher_(dispatcher) {
  CHECK(loop_) << "a run loop needs the thread's message loop";
}

RunLoop::~RunLoop() {
  DCHECK(!running_);
  // A quit closure that outlives the run loop must find it gone.
  weak_factory_.InvalidateWeakPtrs();
}

void RunLoop::Run() {
  DCHECK(!run_called_) << "a run loop runs once";
  run_called_ = true;
  if (quit_called_)
    return;

  previous_run_loop_ = loop_->run_loop_;
  run_depth_ = previous_run_loop_ ? previous_run_loop_->run_depth_ + 1 : 1;
  loop_->run_loop_ = this;
  running_ = true;

  // The time spent in this run is not the enclosing task's own run time.
  TaskStopwatch stopwatch;
  stopwatch.Start();
  if (dispatcher_ && loop_->ui_pump_)
    loop_->ui_pump_->RunWithDispatcher(loop_, dispatcher_);
  else
    loop_->pump_->Run(loop_);
  stopwatch.Stop();

  running_ = false;
  loop_->run_loop_ = previous_run_loop_;

  // The enclosing run was quit while this one ran: end it now.
  if (previous_run_loop_ && previous_run_loop_->quit_called_)
    loop_->QuitNow();
}

void RunLoop::Quit() {
  quit_called_ = true;
  // Quitting an enclosing run only marks it; it ends when the runs nested in it have returned.
  if (running_ && loop_->run_loop_ == this)
    loop_->QuitNow();
}

Closure RunLoop::QuitClosure() {
  return Bind(&RunLoop::Quit, weak_factory_.GetWeakPtr());
}

}  // namespace base
