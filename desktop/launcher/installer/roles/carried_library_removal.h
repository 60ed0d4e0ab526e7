// The copy of the library that the host carries and writes into a private folder under the temporary folder when
// it may not load the one beside it (host/host_main.cc). A loaded library's file cannot be deleted until its
// process has ended, so each process that loaded such a copy leaves its removal to a helper: the host started
// again in its removal role, which loads no library, waits for this process to end and deletes the copy and its
// folder through handles this process opened, then the copies of ended processes that are left.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ROLES_CARRIED_LIBRARY_REMOVAL_H_
#define DESKTOP_LAUNCHER_INSTALLER_ROLES_CARRIED_LIBRARY_REMOVAL_H_

namespace zorvi::installer {

// Declared first in an installer process's scope: as the scope ends, starts the removal of the copy this process
// runs from, if it runs from one.
class CarriedLibraryRemoval {
 public:
  CarriedLibraryRemoval() = default;
  CarriedLibraryRemoval(const CarriedLibraryRemoval&) = delete;
  CarriedLibraryRemoval& operator=(const CarriedLibraryRemoval&) = delete;
  ~CarriedLibraryRemoval();
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ROLES_CARRIED_LIBRARY_REMOVAL_H_
