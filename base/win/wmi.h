// Starting a process through WMI's Win32_Process.Create, so that it runs outside the caller's process tree
// (and outlives the caller's job). COM must be initialised on the calling thread.
#ifndef BASE_WIN_WMI_H_
#define BASE_WIN_WMI_H_

#include <string>

namespace base {
namespace win {

// Starts `command_line`; on success stores the new process's id in *process_id (when given).
bool LaunchProcessViaWmi(const std::wstring& command_line, int* process_id);

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_WMI_H_
