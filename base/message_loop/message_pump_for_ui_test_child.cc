// Child process for the Linux-side check of the UI pump's system calls (testdata_check.sh runs it under wine's
// relay trace). It prints the pump's window and timer id, then runs phases on a UI loop, each between two
// OutputDebugStringA markers "phase NAME begin" and "phase NAME end":
//   burst  4 threads wake the pump 1000 times each while the loop's thread is busy in a task
//   short  a task posts a delayed task due in 3 ms; the phase ends when it runs
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
#include "base/run_loop.h"

namespace {

void Marker(const char* phase, const char* edge) {
  const std::string text = std::string("phase ") + phase + " " + edge;
  OutputDebugStringA(text.c_str());
}

HWND FindPumpWindow(const base::MessagePumpForUI* pump) {
  char expected[64];
  snprintf(expected, sizeof(expected), "Brumel_MessagePumpWindow_%016llX",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pump)));
  HWND window = nullptr;
  while ((window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr) {
    char class_name[128] = {};
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId() &&
        GetClassNameA(window, class_name, sizeof(class_name)) && _stricmp(class_name, expected) == 0)
      return window;
  }
  return nullptr;
}

}  // namespace

int main() {
  base::MessageLoop loop(base::MessageLoop::TYPE_UI);
  base::MessagePumpForUI* pump = loop.ui_pump();
  HWND window = FindPumpWindow(pump);
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
  loop.PostTask(FROM_HERE, base::Bind([&] {
                  Marker("short", "begin");
                  loop.PostDelayedTask(FROM_HERE, base::Bind([] { Marker("short", "end"); }),
                                       base::TimeDelta::FromMilliseconds(3));
                }));
  loop.PostDelayedTask(FROM_HERE, base::Bind([&] {
                         Marker("long", "begin");
                         loop.PostDelayedTask(FROM_HERE, base::Bind([] {}), base::TimeDelta::FromSeconds(3600));
                         loop.PostTask(FROM_HERE, base::Bind([&] {
                                         Marker("long", "end");
                                         Marker("due", "begin");
                                         pump->ScheduleDelayedWork(base::TimeTicks::Now() -
                                                                   base::TimeDelta::FromMilliseconds(1));
                                         Marker("due", "end");
                                         run_loop.Quit();
                                       }));
                       }),
                       base::TimeDelta::FromMilliseconds(50));
  run_loop.Run();
  return 0;
}
