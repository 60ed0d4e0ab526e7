// Models of installation status logs for the tests: read from the JSON form that the Python oracle and the
// hand-laid expected files share, or built with non-ASCII names for the code-page tests (also used by the test
// child, which links only what this header defines inline).
#ifndef DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALL_LOG_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALL_LOG_TEST_UTIL_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "desktop/launcher/installer/records/install_log.h"
#include "desktop/launcher/installer/service/xml_document.h"

namespace zorvi {
namespace installer {

// The models of a JSON file (one object, or a list of them): their fields, and their raw registry writes
// recorded with RecordRegistryValue. A malformed file or model fails the test and gives no models.
std::vector<InstallLog> ReadJsonModels(const base::FilePath& file);

// Saves `log` at `path` as the finalizing step does: the document built, serialized and written whole.
inline bool SaveInstallLog(const InstallLog& log, const base::FilePath& path) {
  XmlDocument document;
  std::string text;
  return WriteInstallLog(&document, log) && SerializeXmlDocument(document, &text) &&
         base::WriteFile(path, text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
}

// The folder under `parent` whose name, like most texts of the log made for it, is not ASCII.
inline base::FilePath NonAsciiInstallFolder(const base::FilePath& parent) {
  return parent.Append(L"Zorvi \u00fc \u65e5\u672c");
}

// A log whose paths, subfolder, registry key, value name and data hold non-ASCII text, for `folder`.
inline InstallLog MakeNonAsciiInstallLog(const base::FilePath& folder) {
  InstallLog log;
  log.version = "12.0";
  log.installation_path = folder;
  log.subfolder = base::FilePath(L"Versi\u00f3n \u00fc \u65e5\u672c");
  log.files = {folder.Append(L"Gr\u00fc\u00dfe \u65e5\u672c.dll"),
               folder.Append(L"\u00fc\\\u65e5\u672c\\\u30c7\u30fc\u30bf.pak")};
  const std::wstring data = L"\u30c7\u30fc\u30bf \u00fc \u65e5\u672c";
  RecordRegistryValue(&log.user_keys, L"Software\\Zorvi \u00fc", L"\u540d\u524d \u00fc", data.c_str(), REG_SZ,
                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)), 1);
  log.desktop_shortcut = folder.Append(L"\u65e5\u672c.lnk");
  return log;
}

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALL_LOG_TEST_UTIL_H_
