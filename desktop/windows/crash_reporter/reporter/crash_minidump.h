// The crash reporter's minidumps: of a crashed client, whose crash facts it reads at the addresses the client
// registered, and of a crashed reporter, which hands over one record of them. A dump must fit a size limit:
// the detailed kind first, the normal kind when that is too large; a dump that fits neither leaves no file.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_MINIDUMP_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_MINIDUMP_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi {
namespace installer {

// What a crashed process keeps for its reporter: the crashing thread, the address (in the crashed process) of
// its EXCEPTION_POINTERS, and the assertion record of a runtime failure.
struct CrashInformationRecord {
  uint32_t thread_id;
  uint32_t padding;
  uint64_t exception_pointers;
  CrashAssertionRecord assertion;
};
static_assert(sizeof(CrashInformationRecord) == 792);
static_assert(offsetof(CrashInformationRecord, assertion) == 16);

// User streams of the reporter's dumps: "<full version> <build number>" without a terminator, and the assertion
// record of an invalid-parameter failure.
inline constexpr uint32_t kVersionStreamType = 0x10000;
inline constexpr uint32_t kAssertionTextStreamType = 0x10001;

// Size limits of the two kinds of dumps (bytes).
inline constexpr uint64_t kClientMinidumpSizeLimit = 3072000;
inline constexpr uint64_t kReporterMinidumpSizeLimit = 512000;

// Dumps a client stopped in its crash, reading its crash facts at its registered addresses
// (`assertion_address` 0: none).
bool WriteClientMinidump(DWORD process_id, uint64_t thread_id_address, uint64_t exception_pointers_address,
                         uint64_t assertion_address, const base::FilePath& path, uint64_t largest_size);

// Dumps a crashed reporter from the record it keeps at `record_address`.
bool WriteSelfMinidump(DWORD process_id, uint64_t record_address, const base::FilePath& path, uint64_t largest_size);

// Writes the dump into a new (or replaced) file at `path`; deletes the file when no dump fits.
bool WriteMinidumpFile(HANDLE process, DWORD process_id, const CrashInformationRecord& record,
                       const base::FilePath& path, uint64_t largest_size);

// Writes the dump into `file`, cutting it to nothing between attempts; false when no kind fits.
bool WriteMinidump(HANDLE process, DWORD process_id, const CrashInformationRecord& record, HANDLE file,
                   uint64_t largest_size);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_MINIDUMP_H_
