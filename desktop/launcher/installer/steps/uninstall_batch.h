// The uninstall clean-up batch "k.bat": what an uninstallation could not remove while installer processes were
// still running is left to a batch in the installation folder, which waits until those processes have ended,
// deletes the left-over files, removes the folders they leave empty and finally itself.
//
// The batch lies in a folder the user could write to, so its grammar is defined here once, for both sides: the
// uninstallation writes it with UninstallBatch, and an elevated process never runs it, but checks with
// CheckUninstallBatch that every line is one the writer makes and names nothing outside the installation folder,
// and then deletes what it names itself.
#ifndef DESKTOP_LAUNCHER_INSTALLER_STEPS_UNINSTALL_BATCH_H_
#define DESKTOP_LAUNCHER_INSTALLER_STEPS_UNINSTALL_BATCH_H_

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace zorvi::installer {

extern const wchar_t kUninstallBatchFileName[];  // "k.bat"

class UninstallBatch {
 public:
  // Every path the batch names lies inside `install_folder`.
  explicit UninstallBatch(const base::FilePath& install_folder);
  ~UninstallBatch();

  // The processes the batch outlives: this process, the run's initial process and the folder-permission helper;
  // 0 leaves a process out, except `own`, which then stays this process.
  void SetWatchedProcesses(uint32_t own, uint32_t initial, uint32_t other);

  // A file that could not be deleted: the batch deletes it, then removes its folders up to the installation
  // folder when they are empty. A path the OEM code page cannot carry is named by its short name when that is
  // ASCII. False (nothing added) for a path outside the installation folder, one that leads through a link (a
  // reparse point), or one the batch cannot name (see CheckUninstallBatch).
  bool AddLeftoverFile(const base::FilePath& file);

  bool HasLeftovers() const { return !files_.empty(); }

  // The batch's text, one line per line feed, in the OEM code page that the command processor reads it in.
  std::string Format() const;

  // Writes the text to install_folder\k.bat, replacing any file there.
  bool Write() const;

 private:
  base::FilePath install_folder_;
  uint32_t process_ids_[3] = {0, 0, 0};
  std::vector<base::FilePath> files_;
  // Removed a subfolder before its parent: in descending order of the text.
  std::set<std::wstring, std::greater<std::wstring>> folders_;
};

// A path that a checked batch deletes, with its names below the installation folder (none: the folder itself).
struct UninstallBatchEntry {
  base::FilePath path;
  std::vector<std::wstring> below;
};

// What a checked batch deletes: the files, then the folders in the batch's order.
struct UninstallBatchEntries {
  std::vector<UninstallBatchEntry> files;
  std::vector<UninstallBatchEntry> folders;
};

// Whether `text` is exactly what UninstallBatch writes for `install_folder`: every line in its place, process
// ids decimal and not 0, each deleted file strictly inside the folder, each removed folder the folder or inside
// it (the folder spelled by its long or its short name), folders in descending order, and no path leading
// through a link (a reparse point) as things stand on disk now. On false, *error names the first line that is
// not (1-based) and why. On true, *entries (when given) receives what the batch deletes.
bool CheckUninstallBatch(const std::string& text, const base::FilePath& install_folder, std::string* error,
                         UninstallBatchEntries* entries = nullptr);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_STEPS_UNINSTALL_BATCH_H_
