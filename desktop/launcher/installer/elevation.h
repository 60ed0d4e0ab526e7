// What the installer needs to hand work to an elevated process of its own: whether elevation is possible at all,
// and opening an event to the administrators, so that a helper running under another account can still set it.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ELEVATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_ELEVATION_H_

#include <windows.h>

namespace zorvi::installer {

// Whether this user can start an elevated process: an administrator (directly or through a linked elevated
// token), any user before Vista, and otherwise unless the machine's policy turns UAC off (EnableLUA 0).
bool IsUACEnabled();

// Adds an entry granting GENERIC_ALL to BUILTIN\Administrators to the event's access list. Before Vista an
// elevated helper runs as another account, which the creator's default list would keep out. False (logged) on
// failure.
bool FixEventACL(HANDLE event);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ELEVATION_H_
