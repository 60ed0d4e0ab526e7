// InstallLog records what an installation put on the machine (files, registry values, shortcuts and a few
// facts about it) so that a later upgrade or uninstallation can find and remove it. It is kept in memory while
// the installer works and saved as "installation_status.xml" in the installation folder.
#ifndef DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALL_LOG_H_
#define DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALL_LOG_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace zorvi {
namespace installer {

class XmlDocument;

// The log's file in the installation folder.
extern const wchar_t kInstallLogFileName[];
// The same log as the earlier engine's installer named it.
extern const wchar_t kKadroInstallLogFileName[];

// One registry value that the installation wrote. Texts are UTF-8; `data` is the text form of the value
// (strings as they are, binary data as comma-separated hexadecimal bytes, a DWORD as eight hexadecimal digits).
struct InstallLogValue {
  std::string type;  // "REG_SZ", "REG_BINARY", ...
  std::string name;
  std::string data;

  bool operator==(const InstallLogValue& other) const = default;
};

// A registry key under which values were written, relative to its hive. The clean level says how much an
// uninstallation removes: 0 or less only the recorded values; n >= 1 the key n - 1 levels above this one, with
// its whole subtree (1 is the key itself).
struct InstallLogKey {
  int clean_level = 0;
  std::string path;
  std::vector<InstallLogValue> values;

  bool operator==(const InstallLogKey& other) const = default;
};

struct InstallLog {
  bool copy_only = false;
  bool all_users = true;
  bool pinned = false;
  std::string app_id;
  base::FilePath installation_path;
  base::FilePath subfolder;
  std::string version;
  base::FilePath desktop_shortcut;
  base::FilePath start_menu_shortcut;
  base::FilePath quick_launch_shortcut;
  std::vector<base::FilePath> files;
  std::vector<base::FilePath> root_files;
  std::vector<InstallLogKey> machine_keys;  // HKEY_LOCAL_MACHINE
  std::vector<InstallLogKey> user_keys;     // HKEY_CURRENT_USER

  bool operator==(const InstallLog& other) const = default;
};

// Loads the file at `path` into *log with a new document in *document. The four lists are emptied first; the
// other fields keep their values unless the file sets them. A failed load leaves the lists empty and the other
// fields as they were. False for a missing or malformed file and for any element out of place.
bool LoadInstallLog(XmlDocument* document, InstallLog* log, const base::FilePath& path);
// Which status log of the installation in `folder` loaded into *log (as LoadInstallLog): its own, else the earlier
// engine's; kNone when neither is there or loads.
enum class FolderInstallLog { kNone, kOwn, kEarlierEngine };
FolderInstallLog LoadFolderInstallLog(XmlDocument* document, InstallLog* log, const base::FilePath& folder);
// Reads a loaded document, the cursor on the document node, into *log.
bool ReadInstallLog(XmlDocument* document, InstallLog* log);
// Builds a new document in *document from `log`, for SerializeXmlDocument. False only when a DOM call fails.
bool WriteInstallLog(XmlDocument* document, const InstallLog& log);

// Records one registry value written under `key_path` of a hive whose records are `keys`. `data` and `size`
// are the value as it goes to the registry (a string type's data is wide text). A deletion (type 0xFFFFFFFF)
// records nothing. Values are added to the last record with exactly this path, whose clean level is raised to
// `clean_level` when that is larger; a value written twice is recorded twice.
void RecordRegistryValue(std::vector<InstallLogKey>* keys, const std::wstring& key_path,
                         const std::wstring& value_name, const void* data, DWORD type, DWORD size, int clean_level);

// The text form of a registry value's data, as InstallLogValue::data holds it (`data` may be null).
std::string RegistryDataText(const void* data, DWORD type, DWORD size);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALL_LOG_H_
