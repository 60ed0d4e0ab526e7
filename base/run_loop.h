// One run of the current thread's message loop, until it is quit. Runs nest: a run loop made and run while
// another runs on the same thread is the innermost one until it returns.
//
//   base::RunLoop run_loop;
//   StartSomething(run_loop.QuitClosure());  // the closure ends the run; it does nothing once run_loop is gone
//   run_loop.Run();
#ifndef BASE_RUN_LOOP_H_
#define BASE_RUN_LOOP_H_

#include <cstdint>

#include "base/callback.h"
#include "base/memory/weak_ptr.h"

namespace base {

class MessageLoop;
class MessagePumpDispatcher;

class RunLoop {
 public:
  // On the current thread's loop, which must exist.
  RunLoop();
  // With `dispatcher` seeing each Windows message of the run first (on a UI loop).
  explicit RunLoop(MessagePumpDispatcher* dispatcher);
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // Runs the loop until Quit. Returns at once when Quit was called before. Once only.
  void Run();

  // Ends the run once the current task returns. Before Run, makes Run return at once. Quitting a run loop
  // while a run nested in it is active takes effect when the nested run returns.
  void Quit();

  // Quit, through a weak pointer: running the closure after the run loop is gone does nothing.
  Closure QuitClosure();

  bool running() const { return running_; }
  // 1 for the outermost run; valid while running.
  int32_t run_depth() const { return run_depth_; }

 private:
  friend class MessageLoop;

  MessageLoop* loop_;
  RunLoop* previous_run_loop_ = nullptr;
  MessagePumpDispatcher* dispatcher_;
  int32_t run_depth_ = 0;
  bool run_called_ = false;
  bool quit_called_ = false;
  bool running_ = false;
  // Set by MessageLoop::QuitWhenIdle: quit the next time the loop finds itself idle.
  bool quit_when_idle_received_ = false;
  WeakPtrFactory<RunLoop> weak_factory_{this};
};

}  // namespace base

#endif  // BASE_RUN_LOOP_H_
