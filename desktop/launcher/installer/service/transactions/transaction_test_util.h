// What the transaction tests compare: the registry subtrees and the file tree that a test owns, captured as
// plain values, and the outside views of them (the system's reg.exe export, each key's SDDL).
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_TEST_UTIL_H_

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "base/files/file_path.h"

namespace zorvi::installer::test {

struct ValueState {
  DWORD type = REG_NONE;
  std::string data;
  bool operator==(const ValueState& other) const = default;
};

struct KeyState {
  std::wstring sddl;  // owner, group and access list; empty in a model: not compared
  std::map<std::wstring, ValueState> values;
  bool operator==(const KeyState& other) const = default;
};

struct EntryState {
  bool directory = false;
  int64_t size = 0;
  DWORD attributes = 0;  // read-only, hidden, system and directory bits
  std::string sha256;    // hexadecimal digest of a file's bytes
  bool operator==(const EntryState& other) const = default;
};

// Keys are named "CU\<path>" or "LM\<path>" below the sandbox's root of that hive, "CU" and "LM" being the
// roots themselves; entries by their path below the tree's folder.
struct MachineState {
  std::map<std::wstring, KeyState> keys;
  std::map<std::wstring, EntryState> entries;
};

// Differences, one line each, for test messages; empty when equal. Model keys without SDDL match any SDDL.
std::string Compare(const MachineState& expected, const MachineState& actual);

// A test's own subtrees: HKCU\Software\<unique>, HKLM\Software\<unique> and a folder under the temporary
// folder, removed again with everything in them.
class Sandbox {
 public:
  explicit Sandbox(const std::wstring& name);
  // Works on subtrees made by someone else (key_root below both hives, and `tree`), and leaves them in place.
  Sandbox(const std::wstring& key_root, const base::FilePath& tree);
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  ~Sandbox();

  bool ok() const { return ok_; }
  // The hive's root key path of the sandbox ("Software\<unique>").
  const std::wstring& key_root() const { return key_root_; }
  const base::FilePath& tree() const { return tree_; }
  // Splits a state key name into the hive and its path under that hive.
  HKEY Hive(const std::wstring& state_key) const;
  std::wstring KeyPath(const std::wstring& state_key) const;
  base::FilePath Path(const std::wstring& entry) const { return tree_.Append(entry); }

  MachineState Capture() const;
  // Both roots as the system's reg.exe exports them (a child process), concatenated; empty on failure.
  std::string RegExport() const;

 private:
  std::wstring key_root_;
  base::FilePath tree_;
  bool ok_ = false;
  bool owned_ = true;
};

// The SDDL of a key's owner, group and access list; empty when it cannot be read.
std::wstring KeySddl(HKEY root, const std::wstring& path);
// Sets a key's access list (and the further parts named by `more`) from SDDL; the list is protected from
// inheritance when the text says "P".
bool SetKeySddl(HKEY root, const std::wstring& path, const std::wstring& sddl, SECURITY_INFORMATION more = 0);

}  // namespace zorvi::installer::test

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_TEST_UTIL_H_
