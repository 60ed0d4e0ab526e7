// The crash reporter process: the installer library started again with "crash-reporter-parent-id". It serves
// the crash pipe for its parent (and for the installer processes that reuse it), and for each crash a client
// reports it snapshots the stopped client, writes the text crash log (and, when asked, a minidump), asks the
// crash server whether it wants the crash and queues the uploads. It ends once the parent has exited and every
// crash and upload in flight has finished.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_REPORTER_MAIN_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_REPORTER_MAIN_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"
#include "desktop/windows/crash_reporter/reporter/process_state_impl.h"

namespace zorvi {
namespace installer {

class CrashClientRecord;
class CrashCounterThread;
struct CrashLogInfo;

// The whole reporter role: the reporter's own crash handlers first, then the self-reporter when the process was
// started for a crashed reporter ("crash-reporter-exception-info"), else the reporter.
void RunCrashReporterProcess();

// 0 after a normal end, -1 when the reporter could not start (nothing is then signalled to the parent).
int RunCrashReporter();

// Called by RunCrashReporter once its parent has ended and every crash and upload has finished, while the crash pipe
// is still served, so that a test can have a client crash in that moment; null, the default, for none.
void SetReporterStoppingHookForTesting(void (*hook)());

// What every crash of a reporter's clients shares.
struct ReporterCrashContext {
  CrashCounterThread* counter = nullptr;
  bool keep_logs = false;
};

// The dump server's dump callback: the whole handling of one crash. `context` is a ReporterCrashContext. Crashes of
// different clients are handled at the same time, each on its own thread: whatever they share is locked, or
// numbered per crash.
void OnClientDumpRequest(void* context, const CrashClientRecord* client, const std::wstring* dump_path);

// Attaches to the crashed client, snapshots it and writes its text crash log to `path`; true when written.
bool CollectAndWriteCrashLog(const CrashClientRecord& client, const base::FilePath& path);

// Attaches to the crashed process, so that it stays stopped while it is read (one that cannot be attached is
// still read from outside), snapshots it and writes its text crash log to `path`, with the metadata `describe`
// gives from the snapshot; true when written. What a client's and a crashed reporter's logs share.
bool WriteCrashLogOfStoppedProcess(DWORD process_id, uint64_t exception_pointers_address, uint64_t thread_id_address,
                                   const std::vector<ModuleListEntry>& modules,
                                   const std::function<void(const ProcessStateImpl&, CrashLogInfo*)>& describe,
                                   const base::FilePath& path);

// Writes the client's published handle trace (crash key "handle_info_items", filtered by "invalid_handle") into
// the log, newest first, at most 200 records.
void LogHandleInfo(const CrashCustomClientInfo& entries, HANDLE process);

// The entry `name` read as a hexadecimal number (an optional "0x" first); `value` is untouched on false.
bool GetMetadataNumber(const CrashCustomClientInfo& entries, const std::wstring& name, uint64_t* value);

// The client's "modules" key: "<name>:<hex base>:<hex size>:<path>::" entries, up to the first malformed one.
std::vector<ModuleListEntry> ParseModuleList(const std::wstring& list);

// "<PRODUCT>_CRASH_KEEP_LOGS" is "1" or "yes" in any case: crash files stay on disk after their upload.
bool ShouldKeepLogs();

// The client's handle trace, as a client keeps it in its own memory for the reporter to read.
struct HandleTraceRecord {
  uint64_t handle;
  uint32_t thread_id;
  uint32_t timestamp;
  uint16_t frame_count;
  uint8_t padding[6];
  uint64_t frames[20];
  char type[16];
  char info[16];
  int32_t inherit;
  int32_t protect_from_close;
};
static_assert(sizeof(HandleTraceRecord) == 224);

struct HandleTraceBuffer {
  static constexpr uint64_t kRecordCount = 500;
  uint64_t begin;  // the oldest record
  uint64_t end;    // one past the newest
  HandleTraceRecord records[kRecordCount];
};
static_assert(sizeof(HandleTraceBuffer) == 0x1B590);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_REPORTER_MAIN_H_
