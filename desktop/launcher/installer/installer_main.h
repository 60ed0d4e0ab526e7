// The installer library's entry below the window. Every installer process enters through RunInstallerProcess
// (from the exported RunInstaller, entry/installer_entry.h), and its command line decides the role it takes: a
// version probe, the crash reporter, the help, the folder-permission mode, the backend that performs an
// installation, or the silent or interactive installer. The entry sets up around the role what it needs (crash
// client, features, log file, message loop, experiments, COM, settings, download folder) and tears it down again
// in reverse.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_MAIN_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_MAIN_H_

#include <cstdint>
#include <string>

#include "base/files/file_path.h"
#include "desktop/launcher/installer/roles/installer_roles.h"

namespace base {
class CommandLine;
}

namespace zorvi::installer {

// Takes the process command line and plays the role it names, the interactive installer through `ui_role`; true
// when that role succeeded.
bool RunInstallerProcess(UIControllerRole ui_role);

// printf-style output to standard output.
void PrintToConsole(const char* format, ...);

// `format` with its one "%s" replaced by the product name, lower-cased (ASCII) when asked.
std::string FormatWithProductName(const char* format, bool lower_case);

// "<product> Installer": the name of the log folder and of the download folder.
std::wstring GetInstallerTitle();

// The last element of the command line (switches included) as a path, when it is absolute; else empty. An
// earlier engine starts an autoupdate with "--installfolder=" and the folder as a separate last argument.
base::FilePath GetInstallFolderFromLastArgument(const base::CommandLine& command_line);

// "<product>_installer_YYYYMMDDhhmmss.log" (local time) in "<temp>\<product> Installer", which is created when
// missing; the bare file name, relative to the current folder, when that folder cannot be had.
base::FilePath GetInstallerLogFilePath();

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_MAIN_H_
