#include "desktop/launcher/installer/service/own_executable.h"

#include <windows.h>

#include "base/base_paths.h"
#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"
#include "base/path_service.h"

namespace zorvi::installer {

namespace {

// Never released: the hold lasts until the process ends.
base::MemoryMappedFile* g_own_executable = nullptr;

}  // namespace

bool HoldOwnExecutable() {
  if (g_own_executable)
    return true;
  base::FilePath path;
  if (!base::PathService::Get(base::kExeFile, &path))
    return false;
  // Sharing reading, which starting the program needs, and neither writing nor deletion (renaming).
  auto mapped = new base::MemoryMappedFile;
  if (!mapped->Initialize(base::File(path, base::FileFlags::Open | base::FileFlags::Read |
                                               base::FileFlags::ExclusiveWrite))) {
    delete mapped;
    return false;
  }
  g_own_executable = mapped;
  return true;
}

const base::MemoryMappedFile* HeldOwnExecutable() {
  return g_own_executable;
}

}  // namespace zorvi::installer
