// The installer describes its registry changes as constant rows (RegistryEntry) whose texts may hold
// placeholders; CreateRegistryOperation turns one row into an operation for a root key and records the
// value it will write in the installation status log.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_ENTRY_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_ENTRY_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

class PlaceholderProvider;

// Entry types beside REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY and REG_DWORD.
constexpr DWORD kRegistryEntryDeleteValue = 0xFFFFFFFF;
constexpr DWORD kRegistryEntryDeleteKey = 0xFFFFFFFE;

// Most substitutions one template may take; a provider whose values keep naming placeholders would otherwise
// grow the text for ever.
constexpr int kMaxPlaceholderSubstitutions = 64;

struct RegistryEntry {
  const wchar_t* key_path;    // template
  const wchar_t* value_name;  // template; null: the key's default value
  DWORD type;
  // REG_SZ, REG_EXPAND_SZ: a wide template; REG_BINARY: a narrow NUL-terminated byte string (its bytes without
  // the terminator); REG_DWORD: the value itself; ignored otherwise.
  uintptr_t data;
  int min_windows_version;  // base::win::WindowsVersion
  HKEY hive;                // when set, the entry applies to this root only
  int min_stream;
  int clean_level;  // copied into the status log's key record
  PlaceholderProvider* placeholders;
};

// Makes the operation for `entry` under `root` into *operation, which stays null when the entry does not apply
// to this Windows version, root or stream. False for a type that is refused and for a template that cannot be
// expanded.
bool CreateRegistryOperation(const RegistryEntry& entry, HKEY root, std::unique_ptr<Operation>* operation);

// Expands the placeholders of `text` (null is empty) into *out with the entry's provider. The install folder
// and the uninstall key are taken as they are: folder names may hold braces. Other values are expanded in
// turn, so a value may name further placeholders. False after kMaxPlaceholderSubstitutions substitutions.
bool ExpandPlaceholders(const RegistryEntry& entry, std::wstring* out, const wchar_t* text);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_ENTRY_H_
