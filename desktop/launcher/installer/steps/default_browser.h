// Which program Windows opens for a protocol or a file extension, and the installation's registration as the
// user's browser.
//
// Every registration below writes its rows as one transaction: all of them take effect or, when one fails, none
// do. The machine-wide flag chooses HKEY_LOCAL_MACHINE instead of HKEY_CURRENT_USER. Registrations are never
// recorded in the installation's status log: the uninstallation removes them through the installer's own rows.
// Functions that reach the system's default-programs objects need COM initialised on the calling thread.
#ifndef DESKTOP_LAUNCHER_INSTALLER_STEPS_DEFAULT_BROWSER_H_
#define DESKTOP_LAUNCHER_INSTALLER_STEPS_DEFAULT_BROWSER_H_

#include <windows.h>

#include <string>
#include <vector>

#include "desktop/launcher/installer/service/transactions/registry_entry.h"

namespace zorvi::installer {

// Where browsers offer themselves as the start menu's internet client: the registry step's start-menu client goes
// below it, and running programs are told when it changed. A literal too, for the keys put together below it.
#define ZORVI_START_MENU_INTERNET_KEY L"Software\\Clients\\StartMenuInternet"
inline constexpr wchar_t kStartMenuInternetKey[] = ZORVI_START_MENU_INTERNET_KEY;

class InstallationInfo;
class PlaceholderProvider;

// Whether the installation handles "http" and "https" for the user, and below Windows 8 is also the start
// menu's internet client.
bool IsDefaultBrowser(InstallationInfo* info);

// Whether the start menu's internet client is the installation's. An all-users installation from Windows Vista
// on asks the default-programs registration; otherwise the user's "Software\Clients\StartMenuInternet" decides,
// or the machine's when the user has none (no key or no value), compared with the installation's class name.
bool IsStartMenuInternetDefault(InstallationInfo* info);

// Stores `command` as "Previous Default Browser" in the company's key, created when missing.
bool SavePreviousDefaultBrowser(const std::wstring& command, bool machine_wide);

// Saves the "http" command of the chosen view, so that an uninstallation can hand the user's browser back;
// nothing when the installation already handles "http" for the user, when the chosen view's command is its own,
// or when there is none.
void RememberPreviousDefaultBrowser(InstallationInfo* info, bool machine_wide);

// Registers the class and points the browser's protocols and extensions and, below Windows 8, the start menu's
// internet client at it, as far as the Windows version lets a program do so itself; then answers
// IsDefaultBrowser. A single-profile installation never becomes the default browser: false, nothing written.
bool MakeDefaultBrowser(InstallationInfo* info, bool machine_wide);

// The installation's class ("<product><stream>"): its name, icon, and the command that opens a URL or a file.
bool RegisterBrowserClass(InstallationInfo* info, bool machine_wide);

// Points the protocol or extension `name` at the installation's class. From Windows 8 on only the user can make
// that choice: Windows 8 and 8.1 show the open-with dialog unless the installation already handles the name,
// Windows 10 opens the Default Apps settings page and writes nothing; machine-wide, both fail. On Vista and 7 an
// all-users installation asks the default-programs registration for the user. Where the system did not record
// the choice itself, the user's previous choice for the name is removed so that the new class counts.
bool RegisterAsHandler(InstallationInfo* info, const std::wstring& name, bool machine_wide);

// Makes the installation's class the start menu's internet client (not possible machine-wide from Windows 8 on).
bool RegisterStartMenuInternet(InstallationInfo* info, bool machine_wide);

// Gives the user's browser back to the system's own, as an uninstallation of an installation that handled "http"
// does (Windows Vista and later). Machine-wide, the system browser's reinstall command runs first and is waited
// for; when it cannot start, nothing else is tried. Then, `for_user`, Windows 8 shows the open-with dialog for
// "http" and other versions ask the default-programs registration for the system browser.
void ResetDefaultBrowser(bool machine_wide, bool for_user);

// The rows of the installation's class, whose texts `placeholders` expands ("Product", "Stream",
// "InstallFolder"); their last field is the clean level the status log records, so the installer's own table can
// take them as they are.
std::vector<RegistryEntry> BrowserClassEntries(PlaceholderProvider* placeholders);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_STEPS_DEFAULT_BROWSER_H_
