// Which program Windows opens for a protocol or a file extension, and the installation's registration as the
// user's browser.
#ifndef DESKTOP_LAUNCHER_INSTALLER_DEFAULT_BROWSER_H_
#define DESKTOP_LAUNCHER_INSTALLER_DEFAULT_BROWSER_H_

#include <string>

namespace zorvi::installer {

// The "shell\open\command" of the class that handles `name`: an extension when it starts with '.', else a
// protocol. Per user (from Windows Vista on) the user's choice in Explorer's association keys comes first;
// without one, an extension's class is the default value of its key under the classes root and a protocol's
// class is its own name. `machine_wide` reads HKEY_LOCAL_MACHINE\SOFTWARE\Classes and ignores user choices.
// False when a lookup on the way fails; a missing choice (value or key) is no failure.
bool GetRegisteredCommand(const std::wstring& name, bool machine_wide, std::wstring* command);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_DEFAULT_BROWSER_H_
