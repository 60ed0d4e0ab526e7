// Small helpers shared by the installer engine: path syntax, file identity, shortcut and taskbar-pin tests, the
// user's name, names of kernel objects and registry keys, reading a registry text, the user's program-files folder
// and the stream's display name.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_UTILS_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_UTILS_H_

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace zorvi::installer {

// Whether the path is one the installer accepts as a folder to install into: 1 to 247 characters; an optional
// drive ("C:") or a share ("\\server\share\"); components without control characters or any of ?"<>*|:, not
// ending in '.', and not a reserved device name before the first '.' (CON, AUX, COM1-COM4, LPT1-LPT3, PRN, NUL).
bool IsValidPath(const base::FilePath& path);

// Whether `name` names an entry directly inside a folder: one non-empty component as IsValidPath accepts it,
// with no separator (so no drive, "." or "..": a name that cannot lead out of the folder it is joined to).
bool IsPlainFileName(std::wstring_view name);

// Whether the system opens a device instead of a file for this component in any folder: CON, PRN, AUX, NUL,
// COM1-COM9 and LPT1-LPT9 (also with a superscript digit), CONIN$ and CONOUT$, before any extension and trailing
// blanks. Wider than the names IsValidPath refuses.
bool IsDeviceName(std::wstring_view component);

// What identifies a file or folder whatever path names it (hard links, letter case, short names): volume
// serial number and file index. False when the path cannot be opened.
bool GetFileIdentity(base::FilePath path, BY_HANDLE_FILE_INFORMATION* identity);
bool IsSameFileIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b);

// Whether the path names a link (any reparse point) now, as the system tells by name: where a link is opened as
// what it leads to (wine), only the name shows it, so a handle's attributes are checked as well as these.
bool PathNamesLink(const base::FilePath& path);

// The path the system reaches for `path`, every link on the way followed, as a plain path ("C:\..." or
// "\\server\share\..."); empty when it cannot be opened.
base::FilePath GetResolvedPath(const base::FilePath& path);

// The folders on a path, from below its volume's root down, checked to be no link and held so that they stay so.
// A link is any reparse point: a junction, a symbolic link, or a folder another volume is mounted on (a junction
// that any user may make to a volume's root looks just like one). Each is held open without delete sharing, so
// that none can be renamed, removed or replaced by a link while the holder lives: the path then leads only
// through what was checked.
class LinkFreePath {
 public:
  LinkFreePath();
  // With `for_listing`, each is held open for listing too. The system counts a handle against another opener's rename
  // or deletion only when it reads or writes data; one that reads attributes alone keeps nothing in place.
  explicit LinkFreePath(bool for_listing);
  LinkFreePath(const LinkFreePath&) = delete;
  LinkFreePath& operator=(const LinkFreePath&) = delete;
  ~LinkFreePath();

  // Checks every existing component of `path` (its full form), the path itself included, and holds them, the
  // path itself only with `hold_path` (a folder that is to be removed must not be held). What does not exist is
  // not checked. False, with *problem saying why, when a component is a link or cannot be examined.
  bool Hold(const base::FilePath& path, bool hold_path, std::string* problem);

 private:
  DWORD access_ = FILE_READ_ATTRIBUTES;
  std::vector<base::win::ScopedHandle> held_;
};

// Whether the shortcut exists and points to `target`, by path ignoring case or, when `target_identity` is given,
// by file identity.
bool TestShortcut(const base::FilePath& shortcut, const base::FilePath& target,
                  const BY_HANDLE_FILE_INFORMATION* target_identity);

// The taskbar pin (a "*.lnk" of the user's pins folder) that points to `target`, matched as TestShortcut does;
// empty when there is none or the pins folder is unknown.
base::FilePath FindTaskbarPin(base::FilePath target, const BY_HANDLE_FILE_INFORMATION* target_identity);

// The user's name, plain or in the domain-qualified form "DOMAIN\user"; false when it cannot be read.
bool GetCurrentUserName(bool domain_form, std::wstring* name);

// "Global\" or "Local\" + base + "/" + name, every backslash after the prefix turned into a slash (kernel
// object names take no backslash beyond the namespace; `name` is often a folder).
std::wstring GetInstallerKernelObjectName(const std::wstring& name, const std::wstring& base, bool global);

// The launcher's file name: the branding file name base + ".exe".
std::string GetLauncherExeName();

// The capitalised word of the build's stream ("Nightly", "Beta", "Release"), else its lower-case name.
std::string GetStreamDisplayName();

// The user's own program-files folder (Windows 7 and later), created when missing; false when the system
// cannot name it.
bool GetUserProgramFilesFolder(base::FilePath* folder);

// The temporary folder of the system's own Windows folder (not a user's), where others may not change what an
// administrator writes; false when the system cannot name it.
bool GetSystemTempFolder(base::FilePath* folder);

// Reads the string value `name` of `key_path` under `root`. The error of opening the key or of reading the value;
// a missing key and a missing value both give ERROR_FILE_NOT_FOUND.
LONG ReadStringValue(HKEY root, const std::wstring& key_path, const wchar_t* name, std::wstring* value);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_UTILS_H_
