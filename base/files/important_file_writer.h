// ImportantFileWriter writes a file so that a crash or a power cut in the middle leaves either the old or the
// new content, never a mix: the bytes go to a temporary file beside the target, are flushed, and the
// temporary file then replaces the target in one rename.
#ifndef BASE_FILES_IMPORTANT_FILE_WRITER_H_
#define BASE_FILES_IMPORTANT_FILE_WRITER_H_

#include <string>

#include "base/files/file_path.h"
#include "base/strings/string_piece.h"

namespace base {

class ImportantFileWriter {
 public:
  // Writes `data` to `path` through a temporary file in the same folder. False on any failure, which is
  // counted in "ImportantFile.TempFileFailures"; the old target is then untouched and the temporary file is
  // gone. After a success, temporary files that earlier writes of the same target left behind (the writing
  // process died before its rename) are removed as well.
  static bool WriteFileAtomically(const FilePath& path, StringPiece data);

  // Test seam: called on the writing thread with the path of each new temporary file, before the file is
  // opened for writing. Null clears it.
  using TempFileCreatedHook = void (*)(const FilePath& temp_file);
  static void SetTempFileCreatedHookForTesting(TempFileCreatedHook hook);
};

}  // namespace base

#endif  // BASE_FILES_IMPORTANT_FILE_WRITER_H_
