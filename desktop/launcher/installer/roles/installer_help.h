// The installer's command-line help ("help" or "?"): the documented switches with their values and defaults,
// the UI languages the host carries and the feature switches. The host is a windowed program, so the help
// opens a console of its own and waits for a key before that console goes away with the process.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ROLES_INSTALLER_HELP_H_
#define DESKTOP_LAUNCHER_INSTALLER_ROLES_INSTALLER_HELP_H_

#include <string>
#include <vector>

namespace zorvi::installer {

// The whole help text, `languages` listed as the available UI languages.
std::string FormatInstallerHelp(const std::vector<std::wstring>& languages);

// Opens a console, writes the help text with the host's languages there and pauses until a key is pressed.
// Writes nothing when the console cannot be opened for output.
void PrintInstallerHelp();

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ROLES_INSTALLER_HELP_H_
