// What an installation puts into the registry: the rows the registry step writes (the browser class, the file
// and protocol associations, the start-menu client, the uninstall entry), the uninstall entry's key, and which
// keys a later upgrade or uninstallation may delete on the word of a status log.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_REGISTRY_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_REGISTRY_H_

#include <string>
#include <vector>

#include "desktop/launcher/installer/service/transactions/registry_entry.h"

namespace zorvi::installer {

class PlaceholderProvider;

// The key every row of the uninstall entry names; the provider's "Uninstall" value fills it in.
extern const wchar_t kUninstallKeyTemplate[];

// The installation's rows in the order they are written, their texts expanded by `placeholders`. With
// `hide_from_programs` a last row keeps the entry out of the system's list of installed programs.
std::vector<RegistryEntry> InstallerRegistryEntries(PlaceholderProvider* placeholders, bool hide_from_programs);

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\<product> <full version><suffix>".
std::wstring UninstallKeyName(const std::wstring& suffix);

// The edition word an earlier-engine product of `type` carried in its names: none for 0, a pre-release word
// for 1 and 2, "Invalid" for anything else.
std::wstring OldProductSuffix(int type);

// The key that a status log's record of `key_path` with `clean_level` (1 or more) asks to delete: the key
// `clean_level` - 1 levels above it. Empty when the record asks to climb past the hive's root.
std::wstring RegistryKeyToClean(const std::wstring& key_path, int clean_level);

// Whether `key_path` may be deleted with its subtree on a status log's word: only keys strictly below the
// containers the installation writes its own keys into (the classes, the start-menu clients, the uninstall
// entries and the application paths; not the classes' "Applications" container itself). A log that was damaged
// or written by someone else could otherwise name a key that holds the whole user's software.
bool IsCleanableRegistryKey(const std::wstring& key_path);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_REGISTRY_H_
