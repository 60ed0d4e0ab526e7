// Runs a window procedure inside a structured exception handler whose filter asks the process-wide
// window-procedure exception filter (base/win/window_proc_exception_filter.h) for its verdict. Windows may
// swallow an exception that escapes a window procedure on its way back through the kernel; the filter lets
// the crash client see it first. When the filter chooses to handle it, the call returns 0.
#ifndef BASE_MESSAGE_LOOP_GUARDED_WINDOW_PROC_H_
#define BASE_MESSAGE_LOOP_GUARDED_WINDOW_PROC_H_

#include <windows.h>

namespace base {

LRESULT CallWindowProcGuarded(WNDPROC window_proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_GUARDED_WINDOW_PROC_H_
