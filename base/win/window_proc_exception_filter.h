// The hook through which the crash client sees exceptions that escape the UI message pump's window
// procedure: the pump's exception handler calls CallWindowProcExceptionFilter, which asks the installed
// filter for the verdict.
#ifndef BASE_WIN_WINDOW_PROC_EXCEPTION_FILTER_H_
#define BASE_WIN_WINDOW_PROC_EXCEPTION_FILTER_H_

#include <windows.h>

namespace base {
namespace win {

// Gets the exception's information and a value that the caller passes through unchanged; returns an
// exception filter verdict (EXCEPTION_EXECUTE_HANDLER, EXCEPTION_CONTINUE_SEARCH, ...).
using WinProcExceptionFilter = int (*)(EXCEPTION_POINTERS* info, void* value);

// Installs `filter` (null removes it) for the whole process and returns the one it replaces. Safe to call
// while another thread handles an exception.
WinProcExceptionFilter SetWindowProcExceptionFilter(WinProcExceptionFilter filter);

// The installed filter's verdict for the exception, or EXCEPTION_CONTINUE_SEARCH (0) when none is installed.
int CallWindowProcExceptionFilter(EXCEPTION_POINTERS* info, void* value);

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_WINDOW_PROC_EXCEPTION_FILTER_H_
