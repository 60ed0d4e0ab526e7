// Where an installer process's log goes when the process runs as an administrator: the usual folder below the
// user's temporary folder only while no folder on its way is a link. The user could have made one there, leading an
// administrator's writes to a folder of the user's choosing.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_LOG_FILE_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_LOG_FILE_H_

#include "base/files/file_path.h"

namespace zorvi::installer {

// `log_file` for a process that is no administrator, and for one that is while the folders on its way are no links
// (they are then held, so that they stay so while the process logs); otherwise a file of the same name in the
// system's temporary folder, whose files others may not change.
base::FilePath GetLinkFreeLogFile(const base::FilePath& log_file);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_LOG_FILE_H_
