// The text crash logs: the log of a crashed client, printed from the snapshot of it (header, metadata, every
// thread with its registers and stack, the modules, and the memory the registers and stacks point into), and
// the log of a crash of the reporter itself (a short header, the metadata and the raw minidump). Both begin
// with "ZORVI-CRASHLOG V1"; whoever reads them relies on every byte of the layout.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_LOG_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_LOG_WRITER_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/reporter/memory_range_set.h"
#include "desktop/windows/crash_reporter/reporter/process_state.h"

namespace zorvi {
namespace installer {

// What a crash log says besides the snapshot.
struct CrashLogInfo {
  std::string product_suffix;
  std::string version;  // the product's full version
  std::string build;    // the build number in decimal
  std::vector<std::pair<std::string, std::string>> metadata;  // in the order they are printed
};

// How much of the crashed process's memory a log dumps around what registers and stacks point to.
inline constexpr uint64_t kCrashLogMemoryBudget = 614400;      // in all, for the threads but the crashed one
inline constexpr uint64_t kCrashLogThreadMemoryBudget = 61440;  // for each of them
// The threads printed, the crashed one among them: at most this many.
inline constexpr size_t kCrashLogMaxThreads = 499;

// Writes the text crash log of `state` into `path` (replacing what is there) in text mode. `ranges` collects
// the memory to dump (it is emptied first). A log that cannot be written in full is deleted: false then.
bool WriteCrashLogFile(MemoryRangeSet* ranges, const ProcessState& state, const CrashLogInfo& info,
                       const base::FilePath& path);

// Writes the text crash log into `file`, opened for writing in text mode; false at the first part that fails.
bool WriteCrashLog(MemoryRangeSet* ranges, const ProcessState& state, const CrashLogInfo& info, FILE* file);

// The log of a crashed reporter (`process_id`), which keeps its crash information record at `record_address`:
// the reporter's minidump (at most `largest_dump_size` bytes) embedded in a short log at `path`. `info` is
// filled for the reporter itself. False, leaving no file, when any step fails.
bool WriteSelfCrashLog(DWORD process_id, uint64_t record_address, const CrashLogInfo& info,
                       const base::FilePath& path, uint64_t largest_dump_size);

// Writes the self log's layout into `file`, opened for writing in binary mode: the line ends are written as
// CR LF by hand, and the dump's bytes must reach the file unchanged.
bool WriteSelfCrashLogText(FILE* file, const CrashLogInfo& info, const std::wstring& image_file_name,
                           uint32_t exception_code, uint64_t exception_address, const uint8_t* dump,
                           size_t dump_size);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_LOG_WRITER_H_
