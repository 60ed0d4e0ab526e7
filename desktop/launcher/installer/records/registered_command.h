// Which command Windows runs for a protocol or a file extension: what tells whether an installation handles it,
// read by the installation's records and by the default-browser registrations alike.
#ifndef DESKTOP_LAUNCHER_INSTALLER_RECORDS_REGISTERED_COMMAND_H_
#define DESKTOP_LAUNCHER_INSTALLER_RECORDS_REGISTERED_COMMAND_H_

#include <string>

// Explorer's per-user choice of the class for a name: the value kUserChoiceClassValue of
// <choices key><name>\UserChoice under HKEY_CURRENT_USER. Macros, so that the default-browser step's key templates
// are spelled from them at compile time.
#define ZORVI_EXTENSION_CHOICES_KEY L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\"
#define ZORVI_PROTOCOL_CHOICES_KEY L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\"
#define ZORVI_USER_CHOICE_SUBKEY L"\\UserChoice"

namespace zorvi::installer {

// Value names ignore case, so any spelling reads the choice; this one is what the default-browser step deletes and
// what a rollback of that deletion writes back.
inline constexpr wchar_t kUserChoiceClassValue[] = L"Progid";

// The "shell\open\command" of the class that handles `name`: an extension when it starts with '.', else a
// protocol. Per user (from Windows Vista on) the user's choice in Explorer's association keys comes first;
// without one, an extension's class is the default value of its key under the classes root and a protocol's
// class is its own name. `machine_wide` reads HKEY_LOCAL_MACHINE\SOFTWARE\Classes and ignores user choices.
// False when a lookup on the way fails; a missing choice (value or key) is no failure.
bool GetRegisteredCommand(const std::wstring& name, bool machine_wide, std::wstring* command);

// Whether `name` is an extension (it starts with '.') rather than a protocol.
bool IsExtension(const std::wstring& name);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_RECORDS_REGISTERED_COMMAND_H_
