// Child process for the Linux-side check of the UI pump's system calls (testdata_check.sh runs it under wine's
// relay trace). It prints the pump's window and timer id, then runs phases on a UI loop, each between two
// OutputDebugStringA markers "phase NAME begin" and "phase NAME end":
//   burst  4 threads wake the pump 1000 times each while the loop's thread is busy in a task
//   shortN a task posts a delayed task due in 9 ms; the phase ends when it runs. The pumps measure the delay
//          from the moment right after the post (their test clock) until the task runs, so that the pump
//          sees it 9 ms away however long the process is descheduled on a loaded machine. Eight attempts
//          (short1 to short8) follow each other.
//   long   a task posts a delayed task due in an hour
//   due    the pump is told of delayed work whose time has passed
// Exits with 0, or 1 when something went wrong.
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_for_ui.h"
#include "base/message_loop/message_pump_test_util.h"
#include "base/run_loop.h"

namespace {

base::TimeTicks g_short_task_posted;

base::TimeTicks ShortTaskPosted() {
  return g_short_task_posted;
}

void Marker(const char* phase, const char* edge) {
  const std::string text = std::string("phase ") + phase + " " + edge;
  OutputDebugStringA(text.c_str());
}

}  // namespace

int main() {
  base::MessageLoop loop(base::MessageLoop::TYPE_UI);
  base::MessagePumpForUI* pump = loop.ui_pump();
  HWND window = base::FindPumpWindow(pump);
  if (!pump || !window)
    return 1;
  printf("window %p\ntimer %p\n", static_cast<void*>(window), static_cast<void*>(pump));
  fflush(stdout);

  base::RunLoop run_loop;
  loop.PostTask(FROM_HERE, base::Bind([&] {
                  Marker("burst", "begin");
                  std::vector<std::thread> threads;
                  for (int t = 0; t < 4; ++t) {
                    threads.emplace_back([pump] {
                      for (int i = 0; i < 1000; ++i)
                        pump->ScheduleWork();
                    });
                  }
                  for (std::thread& thread : threads)
                    thread.join();
                  Marker("burst", "end");
                }));
  // Each phase is started by the end of the one before, after a gap, so no phase's delayed work overlaps
  // another's.
  base::Closure long_phase = base::Bind([&] {
    Marker("long", "begin");
    loop.PostDelayedTask(FROM_HERE, base::Bind([] {}), base::TimeDelta::FromSeconds(3600));
    loop.PostTask(FROM_HERE, base::Bind([&] {
                    Marker("long", "end");
                    Marker("due", "begin");
                    pump->ScheduleDelayedWork(base::TimeTicks::Now() - base::TimeDelta::FromMilliseconds(1));
                    Marker("due", "end");
                    run_loop.Quit();
                  }));
  });
  constexpr int kShortAttempts = 8;
  int attempt = 0;
  std::string attempt_name;
  base::Closure short_phase;
  short_phase = base::Bind([&] {
    attempt_name = "short" + std::to_string(++attempt);
    Marker(attempt_name.c_str(), "begin");
    loop.PostDelayedTask(FROM_HERE, base::Bind([&] {
                           base::MessagePumpWin::SetClockForTesting(nullptr);
                           Marker(attempt_name.c_str(), "end");
                           // The gap is long enough for an ordinary timer, so the pump lowers the resolution
                           // again before the next phase begins.
                           loop.PostDelayedTask(FROM_HERE, attempt < kShortAttempts ? short_phase : long_phase,
                                                base::TimeDelta::FromMilliseconds(50));
                         }),
                         base::TimeDelta::FromMilliseconds(9));
    g_short_task_posted = base::TimeTicks::Now();
    base::MessagePumpWin::SetClockForTesting(&ShortTaskPosted);
  });
  loop.PostTask(FROM_HERE, short_phase);
  run_loop.Run();
  return 0;
}
