// What an installation puts into the registry: the rows the registry step writes (the browser class, the file
// and protocol associations, the start-menu client, the uninstall entry), the uninstall entry's key, and which
// keys a later upgrade or uninstallation may delete on the word of a status log.
#ifndef DESKTOP_LAUNCHER_INSTALLER_STEPS_INSTALLER_REGISTRY_H_
#define DESKTOP_LAUNCHER_INSTALLER_STEPS_INSTALLER_REGISTRY_H_

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

// The keys a status log may have deleted with what is below them, as `placeholders` name them: each that the
// installation's rows delete (its browser class, its extension's class, its entry among the classes' applications,
// its start-menu client) and its application path.
std::vector<std::wstring> OwnCleanableRegistryKeys(PlaceholderProvider* placeholders);

// The earlier engine's browser class and start-menu client as its status logs name them, with the placeholders
// "{Product}" and "{SPProduct}" for its edition's word.
std::vector<std::wstring> EarlierEngineRegistryKeys();

// Whether `key_path` may be deleted with its subtree on a status log's word: one of `own_keys` or a key below one,
// or an uninstall entry of the product (UninstallKeyName of any version and suffix), always strictly below the
// containers shared with the system and other programs. A log that was damaged or written by someone else could
// otherwise name a key that holds the whole user's software, every class of the user or another program's entry.
bool IsCleanableRegistryKey(const std::wstring& key_path, const std::vector<std::wstring>& own_keys);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_STEPS_INSTALLER_REGISTRY_H_
