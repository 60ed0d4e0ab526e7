// The switches of the installer's command line, and those it starts the launcher with. Installer processes start
// one another (the backend, the elevated and folder-permission helpers, the package's own installer, the crash
// reporter) and read what the starting process wrote, so each switch is spelled here once for both ends.
#ifndef DESKTOP_COMMON_PRODUCT_INSTALLER_SWITCHES_H_
#define DESKTOP_COMMON_PRODUCT_INSTALLER_SWITCHES_H_

namespace zorvi::installer {

// Roles before an installer run.
inline constexpr char kHelpSwitch[] = "help";
inline constexpr char kHelpShortSwitch[] = "?";

// Probes: ask a copy of the installer for one value (probe_command_line.h).
inline constexpr char kVersionSwitch[] = "version";
inline constexpr char kInternalVersionSwitch[] = "internal-version";
inline constexpr char kStreamSwitch[] = "stream";

// Role flags of an installer run.
inline constexpr char kBackendSwitch[] = "backend";
inline constexpr char kUninstallSwitch[] = "uninstall";
inline constexpr char kSilentSwitch[] = "silent";
inline constexpr char kRunImmediatelySwitch[] = "runimmediately";
inline constexpr char kAutoupdateSwitch[] = "autoupdate";
inline constexpr char kReplaceKadroInstallationSwitch[] = "replacekadroinstallation";
inline constexpr char kInstallSwitch[] = "install";

// The run's choices, which the interactive process hands to its backend.
inline constexpr char kAllUsersSwitch[] = "allusers";
inline constexpr char kCopyOnlySwitch[] = "copyonly";
inline constexpr char kDefaultBrowserSwitch[] = "setdefaultbrowser";
inline constexpr char kDeleteProfileSwitch[] = "deleteuserprofile";
inline constexpr char kDesktopShortcutSwitch[] = "desktopshortcut";
inline constexpr char kEnableInstallerStatsSwitch[] = "enable-installer-stats";
inline constexpr char kEnableStatsSwitch[] = "enable-stats";
inline constexpr char kImportBrowserDataSwitch[] = "import-browser-data";
inline constexpr char kInstallFolderSwitch[] = "installfolder";
inline constexpr char kLanguageSwitch[] = "language";
// The run's language was picked by the user, not fallen back to: it replaces the browser's language whatever
// that is.
inline constexpr char kLanguageChosenSwitch[] = "language-chosen";
inline constexpr char kLaunchBrowserSwitch[] = "launchbrowser";
inline constexpr char kLaunchZorviSwitch[] = "launchzorvi";
inline constexpr char kPinToTaskbarSwitch[] = "pintotaskbar";
inline constexpr char kProfileFolderSwitch[] = "profile-folder";
inline constexpr char kQuickLaunchShortcutSwitch[] = "quicklaunchshortcut";
inline constexpr char kSingleProfileSwitch[] = "singleprofile";
inline constexpr char kStartMenuShortcutSwitch[] = "startmenushortcut";
inline constexpr char kServerTrackingDataSwitch[] = "server-tracking-data";

// What the first process of a run hands down to every later one.
inline constexpr char kTempFolderSwitch[] = "temp-folder";
inline constexpr char kInitialPidSwitch[] = "initial-pid";
inline constexpr char kInitialProcHandleSwitch[] = "initial-proc-handle";
inline constexpr char kParentPidSwitch[] = "parent-pid";
inline constexpr char kPostElevatedInstallTasksSwitch[] = "post-elevated-install-tasks";
// Tells the package's installer that the folder is writable only through this run's folder-permission helper.
inline constexpr char kBorrowedWriteAccessSwitch[] = "borrowed-write-access";
inline constexpr char kWaitForPackageSwitch[] = "wait-for-package";
// Given to a backend that the runner starts from a ready package: the installer the runner runs from (and holds).
// The package folder is the user's, so an elevated process starts from that installer instead, never from the folder.
inline constexpr char kRunnerInstallerSwitch[] = "runner-installer";
// The package's installer sets the inherited event named by its handle value (hexadecimal) once it has succeeded:
// the installer that waits for it cannot tell a success from a killed process by the exit code alone.
inline constexpr char kHandOverSuccessEventSwitch[] = "handover-success-event";

// The folder-permission helper.
inline constexpr char kSetFolderPermissionSwitch[] = "set-folder-permission";
inline constexpr char kPermissionsForUserSwitch[] = "permissions-for-user";
inline constexpr char kPermanentPermissionsSwitch[] = "permanent-permissions";
inline constexpr char kRunUninstallBatSwitch[] = "run-uninstall-bat";

// The host's own role, read before it loads the library: "<process>,<file>,<folder>", three inherited handles'
// values in decimal. Once the process has ended, the file (the copy of the library the host carries, which that
// process loaded) and then its folder are deleted through the handles.
inline constexpr char kRemoveCarriedLibrarySwitch[] = "remove-carried-library";

// The crash reporter a process reuses (installer processes started by other installer processes).
inline constexpr char kCrashReporterPidSwitch[] = "crash-reporter-pid";
// Makes a process the crash reporter of the process named there.
inline constexpr char kCrashReporterParentIdSwitch[] = "crash-reporter-parent-id";
// The address of a crashed reporter's crash record, in decimal: makes the process a self-reporter.
inline constexpr char kCrashReporterExceptionInfoSwitch[] = "crash-reporter-exception-info";
// The self-reporter of a crashed self-reporter: logs with the dump inside, reads no settings, never relaunches.
inline constexpr char kCrashReporterMinidumpSwitch[] = "crash-reporter-minidump";
// The user data folder the crash reporter answers for its path-service key (kUserDataDirKey) when it has one.
inline constexpr char kUserDataDirSwitch[] = "user-data-dir";

// The browser-data imports a run carries through to the browser's first start.
inline constexpr const char* kBrowserImportSwitches[] = {"import-bookmarks", "import-session",
                                                        "import-topsites-to-quorbitle"};

// What the installer starts the launcher with: the scheduled task's autoupdate run, and a fresh installation's
// first window.
inline constexpr char kScheduledAutoupdateSwitch[] = "scheduledautoupdate";
inline constexpr char kStartMaximizedSwitch[] = "start-maximized";

// Where tests and developers point the installer's servers instead of the branding's.
inline constexpr char kLocalStatsServerSwitch[] = "local-stats-server";
inline constexpr char kLocalPrefDefaultOverridesServerSwitch[] = "local-pref-default-overrides-server";
inline constexpr char kInternalPackageServerSwitch[] = "internal-package-server";
inline constexpr char kServerTrackingBlobSwitch[] = "server-tracking-blob";

}  // namespace zorvi::installer

#endif  // DESKTOP_COMMON_PRODUCT_INSTALLER_SWITCHES_H_
