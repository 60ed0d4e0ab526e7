// What both ends of the installer's IPC share: the path of a mailslot and the thread each end keeps it on.
#ifndef DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_COMMON_H_
#define DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_COMMON_H_

#include <string>

#include "base/callback.h"
#include "base/location.h"
#include "base/threading/thread.h"

namespace zorvi::installer {

// "\\.\mailslot\" + name.
std::wstring GetMailslotPath(const std::wstring& name);

// The thread's name, "Installer IPC thread".
extern const char kIPCThreadName[];

// Starts `thread` with an IO loop and posts `first_task` to it from `from_here`, the connecting call's location.
// False (logged) when the thread cannot start.
bool StartIPCThread(base::Thread* thread, const base::Location& from_here, base::Closure first_task);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_COMMON_H_
