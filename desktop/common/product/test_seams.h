// Test seams of the installer: process-wide values that product code consults at the decision points that tests
// cannot steer through the platform (under wine the process token is always a full administrator with UAC off).
// Each seam defaults to "no override", which leaves the real behaviour.
//
// Only test code calls the ...ForTesting setters: unit tests, test children, and a test-only build of the
// library that sets them at start-up from its scenario, so that every process of a multi-process scenario
// sees the same answers. The product never sets a seam and never reads a test setting (no environment
// variable, switch or file turns one on); the shipped library carries only the points where they are read.
//
// Adding a seam: a value with a "none" default, a ...ForTesting setter and a getter here, and one check where
// the product decides. A seam that names a type of a higher area lives beside that type instead, in the same form
// (the task scheduler's, an install operation's: task_scheduler_test_seam.h, operation_test_seam.h).
#ifndef DESKTOP_COMMON_PRODUCT_TEST_SEAMS_H_
#define DESKTOP_COMMON_PRODUCT_TEST_SEAMS_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace base {
class FilePath;
}

namespace zorvi::installer {

// How IsUserAdmin sees the process token. With an override its token queries (elevation type, linked token,
// administrators membership) are answered as the chosen account would have them answered; the decisions built
// on them stay the product's own.
enum class AdminTokenSeam : int {
  kNone = 0,            // ask the token
  kStandardUser,        // a full token outside the administrators group
  kSplitAdministrator,  // an administrator under UAC: a limited token whose linked token is elevated
};

void SetAdminTokenSeamForTesting(AdminTokenSeam seam);
AdminTokenSeam GetAdminTokenSeam();

// The branding document's text in place of the host's resource, so that tests running side by side can each have
// a product (and so registry keys) of their own. Set before the branding is read on other threads.
void SetBrandingTextForTesting(const std::string& text);
// The text last set; null when none was.
const std::string* GetBrandingTextSeam();

// The name of the autoupdate global storage's access mutex in place of its own, so that tests holding it do not
// make other tests' storages busy; null gives the own name back.
void SetGlobalStorageMutexNameForTesting(const wchar_t* name);
// The name last set; null when none is.
const wchar_t* GetGlobalStorageMutexNameSeam();

// The thread's preferred UI languages (most preferred first) in place of the system's, so that tests can choose
// a run's language as on a machine set up for other languages. Null, the default, asks the system.
void SetPreferredUiLanguagesForTesting(const std::vector<std::wstring>* languages);
const std::vector<std::wstring>* GetPreferredUiLanguagesSeam();

// The downloader's pause before a retry (6 s in the product), the maximum retries a new downloader starts with
// (600), and how long a closed session may take to close its requests (5 s), so that tests of retries, of owners
// that cannot lower the maximum themselves and of sessions stopped on a stalled server end in moments. Negative
// values, the defaults, keep the product's.
void SetDownloadRetryDelayForTesting(int64_t milliseconds);
int64_t GetDownloadRetryDelaySeam();
void SetDownloadMaximumRetriesForTesting(int maximum);
int GetDownloadMaximumRetriesSeam();
void SetDownloadTerminationWaitForTesting(int64_t milliseconds);
int64_t GetDownloadTerminationWaitSeam();

// How long an unattended run waits after its backend's exit for messages still on their way (1 s in the
// product), so that tests of runs that end on that exit end in moments. Negative, the default, keeps the product's.
void SetBackendExitGraceForTesting(int64_t milliseconds);
int64_t GetBackendExitGraceSeam();

// The pause between attempts of a file change that another opener may refuse for a moment: moving a file that a
// deletion set aside back to its own name, removing a shortcut (100 ms in the product), so that tests of a file held
// for a while end in moments. Negative, the default, keeps the product's.
void SetMoveBackRetryDelayForTesting(int64_t milliseconds);
int64_t GetMoveBackRetryDelaySeam();

// Called in place of each pause of a file change retried while another opener holds the file (setting a file
// aside for deletion, telling whether it is in use, copying or moving it: about 2 s of pauses in all), with the
// pause in milliseconds, so that tests can let the holder go at a chosen pause and hold it through all of them
// without waiting. Null, the default, pauses.
using HeldFileRetryPauseHook = void (*)(unsigned long milliseconds);
void SetHeldFileRetryPauseHookForTesting(HeldFileRetryPauseHook hook);
HeldFileRetryPauseHook GetHeldFileRetryPauseHook();

// Refuses starting the copy of the installer that tests whether programs may run from a download folder, as a
// machine whose policy forbids running programs there would (wine never refuses). Asked with the copy's path;
// true refuses. Null, the default, refuses nothing.
using LaunchRefusalHook = bool (*)(const base::FilePath& program);
void SetLaunchRefusalHookForTesting(LaunchRefusalHook hook);
LaunchRefusalHook GetLaunchRefusalHook();

// Answers in place of the shell's open-with dialog, which Windows 8 and 8.1 show when the installation asks to
// handle a protocol or an extension, so that tests reach both outcomes without a window waiting for a user. Asked
// with the name and the dialog's flags; its result stands for the dialog's. Null, the default, shows the dialog.
using OpenWithDialogHook = long (*)(const std::wstring& name, int flags);
void SetOpenWithDialogHookForTesting(OpenWithDialogHook hook);
OpenWithDialogHook GetOpenWithDialogHook();

// The folder-permission helper's grace between the release of a temporary grant and putting the folder's
// access list back (10 s in the product): called with the grace in milliseconds instead of waiting it out, so
// that tests can hold the helper inside the grace and then end it at once. Null, the default, waits.
using GraceWaitHook = void (*)(unsigned long milliseconds);
void SetFolderPermissionGraceHookForTesting(GraceWaitHook hook);
GraceWaitHook GetFolderPermissionGraceHook();

// Stands in for the shell's elevated start of an installer process ("runas", with the consent prompt where UAC
// asks), which under wine simply starts the program as the same full administrator. Asked with the program and
// its parameters; returns the started process's handle (the caller closes it), or null with the thread's last
// error set as the shell sets it (ERROR_CANCELLED: the user declined). Null, the default, asks the shell.
using ElevatedLaunchHook = HANDLE (*)(const base::FilePath& program, const std::wstring& parameters);
void SetElevatedLaunchHookForTesting(ElevatedLaunchHook hook);
ElevatedLaunchHook GetElevatedLaunchHook();

// Refuses the installer's own grant of the install folder to the user, as the system refuses it to a user who
// may not change the folder's access list (under wine an administrator's grant always succeeds), so that tests
// reach the elevated ways to the folder. False, the default, lets the system decide.
void SetFolderGrantRefusedForTesting(bool refused);
bool GetFolderGrantRefusedSeam();

// The account the folder-permission helper takes for the user of the run's initial process, in place of the user
// that process's token names (the process is still opened as in the product). Under wine every process runs as
// the one user who owns the tests' folders and holds every right on them already, so a grant to that user cannot
// be seen: tests let another account (Everyone) stand in. Null, the default, reads the token.
void SetRunUserStandInForTesting(const wchar_t* account);
const wchar_t* GetRunUserStandInSeam();

// Stands in for the shell's taskbar pin and unpin verbs, which wine does not have, so that tests reach a pin
// that succeeds or fails: called with the shortcut and whether to pin it; its result stands for the verb's. Null,
// the default, asks the shell. Whether pinning is offered at all still follows the Windows version.
using TaskbarPinHook = bool (*)(const base::FilePath& shortcut, bool pin);
void SetTaskbarPinHookForTesting(TaskbarPinHook hook);
TaskbarPinHook GetTaskbarPinHook();

// Called by the Installer after it reported a step, with the number of steps reported so far in the run and
// the run's interrupted event; true makes it take the interruption at once, as if the event's watcher had
// delivered it right then. Tests hold an installation at a chosen step this way until its controller has
// stopped it or ended, so that the controller's action meets the run at that step and not later. Null, the
// default, changes nothing.
using StepReportedHook = bool (*)(int steps_reported, HANDLE interrupted_event);
void SetStepReportedHookForTesting(StepReportedHook hook);
StepReportedHook GetStepReportedHook();

// Called in place of starting what an uninstallation leaves running after it ends: the clean-up batch (hidden,
// `kind` "batch") and the uninstall survey's browser (through WMI, outside the process tree, `kind` "survey"),
// with the command line that would have been started. Under wine the batch's wait for its processes ends at once
// and a browser would open, so tests record these starts and run the batch themselves. True counts as started.
// Null, the default, starts them.
using DetachedStartHook = bool (*)(const std::wstring& kind, const std::wstring& command_line);
void SetDetachedStartHookForTesting(DetachedStartHook hook);
DetachedStartHook GetDetachedStartHook();

// Called once the installer's window is first shown and set up for the user. Under wine a wait for the process's
// first wait for input can end before the window exists (a message loop runs earlier), so tests that drive the
// window wait for this instead. Null, the default, does nothing.
using WindowShownHook = void (*)();
void SetWindowShownHookForTesting(WindowShownHook hook);
WindowShownHook GetWindowShownHook();

// Called at each moment a checked package file is about to be used, with its path: the downloaded package before its
// archive is read out of it or an elevated process copies it, that archive before it is unpacked, the package's
// installer before an installer process starts it, the installer's own file before a run starts it. Tests try to
// replace the file there, at the moment a swap would pay off, to show that what is used is still what was checked.
using PackageFileUseHook = void (*)(const base::FilePath& file);
void SetPackageFileUseHookForTesting(PackageFileUseHook hook);
PackageFileUseHook GetPackageFileUseHook();

// Called at each moment an entry that a deletion by handle has checked (an entry of the clean-up batch, a file or
// folder of a profile being deleted) is about to be opened, and as the folder-permission helper is about to make or
// find its folder, with its path. Tests swap a folder on that path for a link there, so that they can show that
// nothing is reached through it. Null, the default, does nothing.
using CheckedPathUseHook = void (*)(const base::FilePath& path);
void SetCheckedPathUseHookForTesting(CheckedPathUseHook hook);
CheckedPathUseHook GetCheckedPathUseHook();

}  // namespace zorvi::installer

#endif  // DESKTOP_COMMON_PRODUCT_TEST_SEAMS_H_
