// Writes the files cut out of a decoded block on helper threads while the unpacking thread goes on checking the
// next entries. Files are taken in the order they are added, and a failed write stops the hand-out, so every file
// added before the first one that failed is on disk.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PARALLEL_FILE_WRITER_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PARALLEL_FILE_WRITER_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"

namespace zorvi::installer {

class ParallelFileWriter {
 public:
  // A file to write; `data` stays valid until Finish returns.
  struct File {
    base::FilePath path;
    const uint8_t* data;
    size_t size;
    bool has_time;
    FILETIME last_write;
  };
  // Writes one file: 0, or the Windows error. Called on several threads at once.
  using WriteFunction = std::function<DWORD(const File&)>;

  // With no helper threads, Add writes each file itself.
  ParallelFileWriter(WriteFunction write, int helper_threads);
  ParallelFileWriter(const ParallelFileWriter&) = delete;
  ParallelFileWriter& operator=(const ParallelFileWriter&) = delete;
  // Finishes the files added, then stops the helpers.
  ~ParallelFileWriter();

  // Hands `file` out; false, taking nothing, once a write has failed.
  bool Add(File file);
  // Writes what is still waiting on this thread too and returns once every file added is written: 0, or the error
  // of the first file in order that failed. No file is pending afterwards.
  DWORD Finish();
  // Whether a file added since the last Finish goes to `path`, compared as the file system compares names.
  bool IsPending(const std::wstring& path) const { return pending_paths_.count(path) != 0; }

 private:
  class Helper;
  struct IgnoringCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
      return base::FilePath::CompareIgnoreCase(a, b) < 0;
    }
  };

  // Takes the next file and writes it with the lock released. Called with the lock held and a file waiting.
  void WriteNextLocked();
  void HelperLoop();

  const WriteFunction write_;
  base::Lock lock_;
  base::ConditionVariable file_waiting_{&lock_};
  base::ConditionVariable all_written_{&lock_};
  std::deque<std::pair<size_t, File>> waiting_;
  size_t added_ = 0;
  size_t done_ = 0;
  bool stopping_ = false;
  bool failed_ = false;
  size_t first_failed_ = 0;
  DWORD first_error_ = ERROR_SUCCESS;
  std::vector<std::unique_ptr<Helper>> helpers_;
  // Only the adding thread reads and changes this.
  std::set<std::wstring, IgnoringCase> pending_paths_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PARALLEL_FILE_WRITER_H_
