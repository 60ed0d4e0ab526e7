// The installer's own executable, held open for the whole process with others allowed only to read it. The file
// of a running program may otherwise be renamed and another file put in its place wherever others may write its
// folder (a shared folder, a removable drive, a folder made at the root of the system drive); while it is held,
// nobody can write, rename, replace or delete it, so every process this one starts from its path (the crash
// reporter, the backend, the elevated run and helper, the download folder's probes) is this same file, and the
// payload is read through the held handle.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_OWN_EXECUTABLE_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_OWN_EXECUTABLE_H_

namespace base {
class MemoryMappedFile;
}

namespace zorvi::installer {

// Opens this process's executable, maps it and keeps both until the process ends. False, with the thread's last
// error where the system gave one, when it cannot be held so (someone has it open for writing, or it is gone).
bool HoldOwnExecutable();

// The held executable's bytes, mapped through the held handle; null when nothing is held.
const base::MemoryMappedFile* HeldOwnExecutable();

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_OWN_EXECUTABLE_H_
