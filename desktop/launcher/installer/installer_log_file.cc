#include "desktop/launcher/installer/installer_log_file.h"

#include <windows.h>

#include <string>

#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/utils.h"

namespace zorvi::installer {

base::FilePath GetLinkFreeLogFile(const base::FilePath& log_file) {
  if (!IsUserAdmin(false))
    return log_file;
  // Held for the rest of the process, which writes into the log until it ends.
  static LinkFreePath* const held = new LinkFreePath();
  std::string problem;
  if (log_file.IsAbsolute() && held->Hold(log_file.DirName(), true, &problem))
    return log_file;
  base::FilePath system_temp;
  return GetSystemTempFolder(&system_temp) ? system_temp.Append(log_file.BaseName()) : base::FilePath();
}

}  // namespace zorvi::installer
