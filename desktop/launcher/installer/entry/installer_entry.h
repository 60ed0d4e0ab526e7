// The installer library's exported entry, above the engine and the window: it hands the engine's entry
// (installer_main.h) the role that shows the installer window.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ENTRY_INSTALLER_ENTRY_H_
#define DESKTOP_LAUNCHER_INSTALLER_ENTRY_INSTALLER_ENTRY_H_

// Takes the process command line and plays the role it names; true when that role succeeded. The host turns
// true into exit code 0, which is how installer processes judge each other's success.
extern "C" bool RunInstaller();

#endif  // DESKTOP_LAUNCHER_INSTALLER_ENTRY_INSTALLER_ENTRY_H_
