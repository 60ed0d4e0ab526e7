// What the installer's shortcuts are called and what they carry. The steps that make, update and remove them are
// Installer methods (installer_shortcut_steps.cc).
#ifndef DESKTOP_LAUNCHER_INSTALLER_STEPS_INSTALLER_SHORTCUT_STEPS_H_
#define DESKTOP_LAUNCHER_INSTALLER_STEPS_INSTALLER_SHORTCUT_STEPS_H_

#include <string>

#include "base/files/file_path.h"
#include "base/win/shortcut.h"

namespace zorvi::installer {

// The product's visible name with its stream, with the major version when `with_version` (to tell it from a
// shortcut of the same name that another installation made), the branding's suffix and ".lnk".
std::wstring ShortcutFileName(bool with_version);

// The taskbar groups windows by this id, so each installation gets a button of its own.
std::wstring ApplicationUserModelId(const std::string& application_id);

// A shortcut that starts `target` in its own folder under the installation's application id.
base::win::ShortcutProperties LauncherShortcutProperties(const base::FilePath& target,
                                                          const std::string& application_id);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_STEPS_INSTALLER_SHORTCUT_STEPS_H_
