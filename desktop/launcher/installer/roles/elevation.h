// What the installer needs to hand work to an elevated process of its own: whether elevation is possible at all,
// and opening an event to the administrators, so that a helper running under another account can still set it.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ROLES_ELEVATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_ROLES_ELEVATION_H_

#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"

namespace base {
class FilePath;
}

namespace zorvi::installer {

// Whether this user can start an elevated process: an administrator (directly or through a linked elevated
// token), any user before Vista, and otherwise unless the machine's policy turns UAC off (EnableLUA 0).
bool IsUACEnabled();

// Adds an entry granting GENERIC_ALL to BUILTIN\Administrators to the event's access list. Before Vista an
// elevated helper runs as another account, which the creator's default list would keep out. False (logged) on
// failure.
bool FixEventACL(HANDLE event);

// Starts `program` with `parameters`, shown, through the shell's "runas" verb: elevated, after the consent prompt
// where UAC asks for it. The process's handle; an invalid one, with the last error set, when it was refused or
// could not start.
base::win::ScopedHandle ShellExecuteElevated(const base::FilePath& program, const std::wstring& parameters);

// What the installer starts its elevated processes with: ShellExecuteElevated, or the test seam's stand-in.
base::win::ScopedHandle LaunchElevated(const base::FilePath& program, const std::wstring& parameters);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ROLES_ELEVATION_H_
