// Child process for the Linux-side check of the UI pump's system calls (testdata_check.sh runs it under wine's
// relay trace). It prints the pump's window and timer id, then runs phases on a UI loop, each between two
// OutputDebugStringA markers "phase NAME begin" and "phase NAME end":
//   burst  4 threads wake the pump 1000 times each while the loop's thread is busy in a task
//   shortN a task posts a delayed task due in 9 ms; the phase ends when it runs. The clock stands still from
//          the post until the loop raises the timer resolution on its way to wait, so the pump always finds the
//          task pending however long the process is descheduled meanwhile (under a loaded machine's relay
//          trace that took longer than 9 ms). Each attempt begins once the one before lowered the resolution.
//   long   a task posts a delayed task due in an hour
//   due    the pump is told of delayed work whose time has passed
// Exits with 0, or 1 when something went wrong.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_for_ui.h"
#include "base/message_loop/message_pump_test_util.h"
#include "base/run_loop.h"
#include "base/time/time_win_internal.h"

namespace {

void Marker(const char* phase, const char* edge) {
  const std::string text = std::string("phase ") + phase + " " + edge;
  OutputDebugStringA(text.c_str());
}

base::time_internal::TickFunction g_real_clock = nullptr;
std::atomic<int64_t> g_frozen_at{0};  // the clock's reading while it stands still, else 0

int64_t TestClock() {
  const int64_t frozen = g_frozen_at.load();
  return frozen ? frozen : g_real_clock();
}

// The real system calls, so the relay trace shows them, with the clock and the phases driven around them.
MMRESULT WINAPI BeginPeriodAndThaw(UINT period) {
  const MMRESULT result = timeBeginPeriod(period);
  g_frozen_at.store(0);
  return result;
}

base::MessageLoop* g_loop = nullptr;
const base::Closure* g_after_lowering = nullptr;

MMRESULT WINAPI EndPeriodAndGoOn(UINT period) {
  const MMRESULT result = timeEndPeriod(period);
  if (const base::Closure* next = g_after_lowering) {
    g_after_lowering = nullptr;
    g_loop->PostTask(FROM_HERE, *next);
  }
  return result;
}

}  // namespace

int main() {
  g_real_clock = base::time_internal::SetTickFunctionForTesting(&TestClock);
  base::time_internal::SetTimerPeriodFunctionsForTesting(&BeginPeriodAndThaw, &EndPeriodAndGoOn);
  base::MessageLoop loop(base::MessageLoop::TYPE_UI);
  g_loop = &loop;
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
  // Each phase is started by the end of the one before, so no phase's delayed work overlaps another's.
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
  constexpr int kShortAttempts = 3;
  int attempt = 0;
  std::string attempt_name;
  base::Closure short_phase;
  short_phase = base::Bind([&] {
    attempt_name = "short" + std::to_string(++attempt);
    Marker(attempt_name.c_str(), "begin");
    g_frozen_at.store(g_real_clock());
    loop.PostDelayedTask(FROM_HERE, base::Bind([&] {
                           Marker(attempt_name.c_str(), "end");
                           // With no short task left the loop lowers the resolution, which starts the next phase.
                           g_after_lowering = attempt < kShortAttempts ? &short_phase : &long_phase;
                         }),
                         base::TimeDelta::FromMilliseconds(9));
  });
  loop.PostTask(FROM_HERE, short_phase);
  run_loop.Run();
  return 0;
}
