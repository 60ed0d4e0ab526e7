// Deleting inside a folder that a user may have written to, by handle: each entry is opened below the handle of
// the folder holding it, as itself where it is a link, and is held without delete sharing from then on, so that
// a folder checked once cannot be swapped for a link or another folder while it is emptied. A link is never
// entered: it is deleted as itself, or left where that cannot be told for sure.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_LINK_FREE_DELETION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_LINK_FREE_DELETION_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace zorvi::installer {

class LinkFreePath;

// The thread's last error when a path leads through a link: ERROR_REPARSE_POINT_ENCOUNTERED, which the toolchain's
// headers lack.
constexpr DWORD kPathThroughLinkError = 4395;

// A folder opened for listing, held without delete sharing; invalid, with *problem, when `path`
// or a folder on its way is a link or cannot be opened. The folders above it stay held by `above`.
base::win::ScopedHandle OpenLinkFreeFolder(const base::FilePath& path, LinkFreePath* above, std::string* problem);

// Opens an entry strictly inside the folder open as `folder` (at `folder_path`), component by component below that
// handle, never through a link; `components` are the names below the folder, the last one the entry's, which is
// opened for deletion. The folders on the way stay held by `held`. Invalid, with *problem and the thread's last
// error (kPathThroughLinkError for a link), when the path leads through a link or cannot be opened.
base::win::ScopedHandle OpenInsideFolder(HANDLE folder, const base::FilePath& folder_path,
                                         const std::vector<std::wstring>& components,
                                         std::vector<base::win::ScopedHandle>* held, std::string* problem);

// Marks the object open as `object` for deletion (a read-only file loses that attribute first): it goes when
// the last handle to it closes. False when the system refuses (a folder that is not empty, a file in use).
bool DeleteThroughHandle(HANDLE object);

// Deletes the folder open as `folder` (by OpenLinkFreeFolder) when it is empty, through that handle's object.
bool DeleteOpenFolder(HANDLE folder);

// Deletes everything inside the folder open as `folder` (at `path`, for the log and the test seam), walking by
// handle; the folder itself stays. Links are deleted as themselves, never entered. False, with *problem naming
// the first entry that stays, when anything stays.
bool DeleteFolderContents(HANDLE folder, const base::FilePath& path, std::string* problem);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_LINK_FREE_DELETION_H_
