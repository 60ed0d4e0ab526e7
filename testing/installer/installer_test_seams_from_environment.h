// Installer scenarios run several processes (controller, runner, backends); each must answer the installer's
// test seams alike. Their settings travel in one environment variable, which every process of the scenario
// inherits: the test build of the library applies them as it loads, and the test programs of a scenario call
// ApplyInstallerTestSeamsFromEnvironment at start-up. The shipped library never reads it.
//
// The value is "name=value" pairs separated by ';':
//   admin-token=standard|split    IsUserAdmin sees a standard user or a split UAC administrator
//   branding-file=PATH            the branding document is this file's text (a product of the test's own)
//   hold-at-step=N[:EVENTS]       the installation holds after its N-th step until its controller stops it or
//                                 ends, and takes the interruption there (so it cannot run ahead of the stop);
//                                 with EVENTS it first sets the event EVENTS/held and waits for EVENTS/go, so
//                                 that a test can open the backend while it surely runs
//   held-file=FILE                with hold-at-step, the holding process then writes its id to FILE (whole, by a
//                                 rename), for a test outside wine that can wait on no event
//   crash-reporter-start-wait=MS  how long the crash client waits for its reporter to get ready (2000 in the product)
//   crash-dump-wait=MS            how long a crashed client waits for its dump (15 s in the product)
//   crash-collector=plain         minidumps go to the crash URL's own scheme and port, as the tests' loopback
//                                 servers speak plain HTTP only (always HTTPS in the product)
//   download-retry-delay=MS       how long the downloader waits before it resumes a failed download (6 s)
//   detached-starts=FILE          the clean-up batch and the survey an uninstallation starts are recorded in FILE
//                                 (kind, process id, initial-pid, parent-pid, command line; tab-separated)
//                                 instead of started
//   task-store=FILE               the autoupdate task scheduler is the recording one on FILE
//   elevation=consent|decline     the elevated start of an installer process: the user consents (the real
//                                 "runas" starts it, without the admin-token answer) or declines
//   folder-grant=refuse           the installer's own grant of the install folder is refused
//   run-user=ACCOUNT              the folder-permission helper takes ACCOUNT for the user of the run's initial
//                                 process (see SetRunUserStandInForTesting)
//   shortcut-folders=DIR          the desktops, start menus and quick launch are folders below DIR (see
//                                 OverrideShortcutFolders), so that no scenario touches the user's own
//   replace-package-files=DIR     at each moment a checked package file is about to be used (see
//                                 PackageFileUseHook), tries to put DIR\replacement.exe in its place (see
//                                 TryToReplaceFile) and appends "<file>\t<overwrite error>\t<rename error>" to
//                                 DIR\attempts.txt
//   window-shown-event=NAME       the installer's window sets the event NAME once it is shown and set up (see
//                                 WindowShownHook), for tests that drive it: under wine the process's first wait
//                                 for input can come before its window
// Adding a seam: one row in the table of the .cc.
#ifndef TESTING_INSTALLER_INSTALLER_TEST_SEAMS_FROM_ENVIRONMENT_H_
#define TESTING_INSTALLER_INSTALLER_TEST_SEAMS_FROM_ENVIRONMENT_H_

#include <string>
#include <utility>
#include <vector>

namespace test_support {

inline constexpr wchar_t kInstallerTestSeamsVariable[] = L"ZORVI_TEST_SEAMS";

// Applies every pair of the variable (nothing when it is not set). False, with *error naming the pair, for an
// unknown name or a value that cannot be applied; the pairs before it stay applied.
bool ApplyInstallerTestSeamsFromEnvironment(std::string* error);

// Points the path keys of the shortcut folders at folders below `root`, made as needed: "UserDesktop",
// "CommonDesktop", "StartMenu", "CommonStartMenu" and "QuickLaunch" (whose "User Pinned\TaskBar" holds the pins).
// Under wine the user's desktop is the Linux home, and tests running side by side would meet each other's
// shortcuts there. False when a folder cannot be made.
bool OverrideShortcutFolders(const std::wstring& root);

// The variable's value for the pairs.
std::wstring InstallerTestSeamsValue(const std::vector<std::pair<std::wstring, std::wstring>>& pairs);

}  // namespace test_support

#endif  // TESTING_INSTALLER_INSTALLER_TEST_SEAMS_FROM_ENVIRONMENT_H_
