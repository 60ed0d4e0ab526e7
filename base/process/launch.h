// Starting child processes: the launch options, LaunchProcess with an exact list of inherited handles, job
// assignment and user tokens, GetAppOutput for a child's standard output (whole, or started and collected
// apart), and the process-wide lock held while children that inherit handles are created.
#ifndef BASE_PROCESS_LAUNCH_H_
#define BASE_PROCESS_LAUNCH_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/process/process.h"
#include "base/synchronization/lock.h"
#include "base/win/scoped_handle.h"

namespace base {

class CommandLine;

struct LaunchOptions {
  LaunchOptions();
  ~LaunchOptions();

  // Wait for the child to end before returning.
  bool wait = false;
  // The child's current directory, when not empty.
  FilePath current_directory;
  // The child's first window is hidden (SW_HIDE) instead of shown (SW_SHOW).
  bool start_hidden = false;
  // When set, exactly these handles are inherited (inheritable for this launch only); an empty list means none.
  std::vector<HANDLE>* handles_to_inherit = nullptr;
  // Inherit every inheritable handle; only looked at when no handle list is given.
  bool inherit_handles = false;
  // Start the child as the user of this token, with that user's environment.
  HANDLE as_user = nullptr;
  // Give the child the empty desktop name instead of the caller's desktop.
  bool empty_desktop_name = false;
  // Assign the child to this job object before it runs.
  HANDLE job_handle = nullptr;
  // The child's standard handles; used when any of them is set.
  HANDLE stdin_handle = nullptr;
  HANDLE stdout_handle = nullptr;
  HANDLE stderr_handle = nullptr;
  // Start the child outside the caller's job.
  bool force_breakaway_from_job = false;
};

// Starts `command_line` (program and arguments as one string). Returns an invalid Process on failure.
Process LaunchProcess(const std::wstring& command_line, const LaunchOptions& options);
Process LaunchProcess(const CommandLine& command_line, const LaunchOptions& options);

// Runs `command_line` with its standard output on a pipe and collects everything written there into *output
// until the child ends (its standard input and error are the caller's). True when the child ended normally
// (exit code 0); the output is collected either way. Hold GetProcessLaunchLock around the call: the child
// inherits every inheritable handle.
bool GetAppOutput(const CommandLine& command_line, std::string* output);

// A child started as GetAppOutput starts one, and the read end of its output pipe, which only the caller holds.
struct StartedApp {
  Process process;
  win::ScopedHandle output;
};

// GetAppOutput in two halves, so that several children can run side by side. StartApp returns once the child
// runs, or an invalid process on failure; hold GetProcessLaunchLock around it alone. The caller's copy of the
// pipe's write end is closed by then, so no child started later inherits it and each read ends with its own
// child. CollectAppOutput reads until the child ends and answers as GetAppOutput.
StartedApp StartApp(const CommandLine& command_line);
bool CollectAppOutput(StartedApp app, std::string* output);

// The process-wide lock to hold while creating children that inherit handles, so that no other thread's
// inheritable handle leaks into them. Made on first use; destroyed by the AtExitManager.
Lock& GetProcessLaunchLock();

}  // namespace base

#endif  // BASE_PROCESS_LAUNCH_H_
