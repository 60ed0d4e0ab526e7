#include "desktop/windows/crash_reporter/reporter/crash_reporter_main.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_memory.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/windows/crash_reporter/crash_common.h"
#include "desktop/windows/crash_reporter/crash_key_names.h"
#include "desktop/windows/crash_reporter/reporter/crash_counter.h"
#include "desktop/windows/crash_reporter/reporter/crash_dump_server.h"
#include "desktop/windows/crash_reporter/reporter/crash_files.h"
#include "desktop/windows/crash_reporter/reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/reporter/crash_metadata.h"
#include "desktop/windows/crash_reporter/reporter/crash_minidump.h"
#include "desktop/windows/crash_reporter/reporter/crash_reporter_log.h"
#include "desktop/windows/crash_reporter/reporter/crash_upload.h"
#include "desktop/windows/crash_reporter/reporter/crash_url.h"
#include "desktop/windows/crash_reporter/reporter/memory_range_set.h"
#include "desktop/windows/crash_reporter/reporter/reporter_lifetime.h"
#include "desktop/windows/crash_reporter/reporter/reporter_self_crash.h"
#include "desktop/windows/crash_reporter/reporter/reporter_settings.h"

namespace zorvi {
namespace installer {

namespace {

void (*g_stopping_hook)() = nullptr;

// Crashes of different clients are captured at the same time, and without a crash folder from the environment
// they share one crash id file: each line is written whole, one after the other.
constinit base::Lock g_crash_id_file_lock;

constexpr int kCrashCheckTimeLimitMs = 3000;
constexpr size_t kMaxHandleTraceLines = 200;
constexpr size_t kMaxHandleTraceFrames = 20;

// The pipe's security: a low mandatory label with no-write-up, so that clients running at low integrity can
// open the pipe. Without the label (the conversion failed) the pipe gets the default security.
class PipeSecurity {
 public:
  PipeSecurity() {
    if (base::win::GetVersion() < base::win::VERSION_VISTA)
      return;
    attributes_.nLength = sizeof(attributes_);
    attributes_.bInheritHandle = FALSE;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;NW;;;S-1-16-4096)", SDDL_REVISION_1,
                                                              descriptor_.Receive(), nullptr)) {
      static_cast<void>(descriptor_.Take());
      return;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL sacl = nullptr;
    if (GetSecurityDescriptorSacl(descriptor_.Get(), &present, &sacl, &defaulted) && present && sacl)
      attributes_.lpSecurityDescriptor = descriptor_.Get();
  }
  PipeSecurity(const PipeSecurity&) = delete;
  PipeSecurity& operator=(const PipeSecurity&) = delete;

  SECURITY_ATTRIBUTES* attributes() { return attributes_.nLength ? &attributes_ : nullptr; }

 private:
  SECURITY_ATTRIBUTES attributes_ = {};
  base::win::ScopedLocalMemory<> descriptor_;
};

// Reads a hexadecimal field of the module list ending at the next ':' from *start, and moves past that ':'.
bool ReadModuleListNumber(const std::wstring& list, size_t* start, uint64_t* value) {
  const size_t end = list.find(L':', *start);
  if (end == std::wstring::npos || end == *start)
    return false;
  if (!base::HexStringToUInt64(base::WideToUTF8(list.substr(*start, end - *start)), value))
    return false;
  *start = end + 1;
  return true;
}

// A crash id line for whoever collects crashes by id: "<client's crash guid>=<the server's crash location>".
void WriteCrashIdFile(const CrashCustomClientInfo& entries, uint32_t sequence_number, const std::wstring& crash_id) {
  std::wstring guid;
  GetCustomInfoValue(entries, kCrashKeyCrashGuid, &guid);
  if (guid.empty() && IsCrashLogFolderFromEnvironment())
    guid = L"0";
  const base::FilePath path = GetCrashIdFilePath(sequence_number);
  // An empty path means nothing answers the file's key: there is no file to write, not even one named after the
  // crash folder beside it.
  if (guid.empty() || path.empty())
    return;
  base::AutoLock one_writer(g_crash_id_file_lock);
  FILE* file = _wfopen(path.value().c_str(), L"wt");
  if (!file)
    return;
  fputs(base::WideToUTF8(guid + L"=" + crash_id).c_str(), file);
  fclose(file);
}

// Steps after the text log of crash `sequence_number` was written: dump, crash logger messages, the server's
// verdict, uploads and the crash id.
void ReportWrittenCrash(const ReporterCrashContext& context, const CrashClientRecord& client,
                        uint32_t sequence_number, base::FilePath log_path, CrashLogSink* sink) {
  base::FilePath dump_path;
  if (IsAlternativeCrashLoggingEnabled()) {
    dump_path = base::FilePath(base::UTF8ToWide(GetCrashDumpFileName(sequence_number)));
    if (!WriteClientMinidump(client.process_id(), client.thread_id_address(), client.exception_pointers_address(),
                             client.assertion_address(), dump_path, kClientMinidumpSizeLimit)) {
      dump_path.clear();
    }
  }
  sink->AppendToFile(log_path);

  const CrashCustomClientInfo entries = client.GetCustomInfo();
  std::wstring active_url;
  GetJoinedCustomInfoValue(entries, kCrashKeyActiveUrl, &active_url);
  std::wstring stacktrace_id, crash_id;
  const CrashUrlCheckResult verdict =
      CheckCrashUrl(active_url, GetOrigin(entries), &stacktrace_id, &crash_id, kCrashCheckTimeLimitMs);
  if (verdict == kCrashRejected) {
    if (!context.keep_logs)
      DeleteFileW(log_path.value().c_str());
    log_path.clear();
  }
  if (!log_path.empty()) {
    UploadParameters parameters;
    AddLogUploadParameters(entries, &parameters);
    AddStacktraceId(stacktrace_id, &parameters);
    if (!QueueLogUpload(log_path, !context.keep_logs, parameters))
      crash_id.clear();
  }
  if (!dump_path.empty()) {
    UploadParameters parameters;
    AddDumpUploadParameters(entries, &parameters);
    QueueMinidumpUpload(dump_path, !context.keep_logs, parameters);
  }
  if (!crash_id.empty())
    WriteCrashIdFile(entries, sequence_number, crash_id);
}

}  // namespace

void RunCrashReporterProcess() {
  InstallCrashReporterHandlers();
  if (base::CommandLine::ForCurrentProcess()->HasSwitch(kCrashReporterExceptionInfoSwitch))
    RunSelfCrashReporter();
  else
    RunCrashReporter();
}

void SetReporterStoppingHookForTesting(void (*hook)()) {
  g_stopping_hook = hook;
}

int RunCrashReporter() {
  PrepareSelfCrashRelaunch(false);
  uint32_t parent_id = 0;
  if (!GetParentProcessIdFromSwitch(&parent_id))
    return -1;
  InitCrashReporterLogging();
  if (!InitCrashFolders())
    return -1;
  ReadReporterSettings(GetBrowserStateFilePath());
  if (!IsReportingEnabled())
    return -1;
  InitCrashUrl();
  ReporterLifetime& lifetime = ReporterLifetime::Get();
  if (!lifetime.Init())
    return -1;
  ParentProcessWatcher watcher;
  if (!watcher.Watch(parent_id))
    return -1;
  const std::wstring event_name = FormatCrashObjectName(kCrashReporterInitEventPrefix, parent_id);
  if (event_name.empty())
    return -1;
  base::win::ScopedHandle init_event(OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name.c_str()));
  if (!init_event.IsValid())
    return -1;
  const std::wstring pipe_name = FormatCrashObjectName(kCrashPipeNamePrefix, GetCurrentProcessId());
  if (pipe_name.empty())
    return -1;
  // Each crash's files are named bare and land here.
  if (!SetCurrentDirectoryW(GetCrashFolder().value().c_str()))
    return -1;
  PipeSecurity security;
  ReporterCrashContext context;
  context.keep_logs = ShouldKeepLogs();
  {
    CrashCounterThread counter(GetCrashCounterFilePath());
    context.counter = &counter;
    CrashDumpServerCallbacks callbacks;
    callbacks.dump = &OnClientDumpRequest;
    callbacks.dump_context = &context;
    // Declared after the counter, so destroyed before it: no crash counts into a counter that is gone.
    CrashDumpServer server(pipe_name, security.attributes(), callbacks, false, std::wstring());
    if (!server.Start())
      return -1;
    SetEvent(init_event.Get());
    init_event.Close();
    lifetime.WaitForZero();
    if (g_stopping_hook)
      g_stopping_hook();
  }
  // A client reusing this reporter may crash after the parent's exit: the server's destruction waited for that
  // crash, but the uploads it queued still hold units of the count.
  lifetime.WaitForZero();
  return 0;
}

void OnClientDumpRequest(void* context_pointer, const CrashClientRecord* client, const std::wstring*) {
  const auto& context = *static_cast<const ReporterCrashContext*>(context_pointer);
  ReporterLifetime::Get().AddRef();
  {
    CrashLogSink sink;
    context.counter->Add(1, true);
    const uint32_t sequence_number = TakeCrashSequenceNumber();
    // Bare: it resolves against the crash folder, the reporter's current folder.
    const base::FilePath log_path(base::UTF8ToWide(GetCrashLogFileName(sequence_number)));
    if (CollectAndWriteCrashLog(*client, log_path))
      ReportWrittenCrash(context, *client, sequence_number, log_path, &sink);
  }
  ReporterLifetime::Get().Release();
}

bool CollectAndWriteCrashLog(const CrashClientRecord& client, const base::FilePath& path) {
  const CrashCustomClientInfo entries = client.GetCustomInfo();
  std::wstring modules;
  GetJoinedCustomInfoValue(entries, kCrashKeyModules, &modules);
  return WriteCrashLogOfStoppedProcess(
      client.process_id(), client.exception_pointers_address(), client.thread_id_address(), ParseModuleList(modules),
      [&entries](const ProcessStateImpl& state, CrashLogInfo* info) {
        AddCrashLogMetadata(entries, info);
        AddMemoryMetadata(state.working_set_size(), state.peak_working_set_size(), state.private_bytes(), info);
        LogHandleInfo(entries, state.process());
      },
      path);
}

bool WriteCrashLogOfStoppedProcess(DWORD process_id, uint64_t exception_pointers_address, uint64_t thread_id_address,
                                   const std::vector<ModuleListEntry>& modules,
                                   const std::function<void(const ProcessStateImpl&, CrashLogInfo*)>& describe,
                                   const base::FilePath& path) {
  // Attached, the process stays stopped while it is read, whatever its other threads were doing.
  const bool attached = DebugActiveProcess(process_id);
  if (!attached)
    PLOG(ERROR) << "DebugActiveProcess failed";
  ProcessStateImpl state;
  bool written = false;
  if (state.Init(process_id, exception_pointers_address, thread_id_address, modules)) {
    CrashLogInfo info;
    describe(state, &info);
    MemoryRangeSet ranges;
    written = WriteCrashLogFile(&ranges, state, info, path);
  }
  if (attached && !DebugActiveProcessStop(process_id))
    PLOG(ERROR) << "DebugActiveProcessStop failed";
  return written;
}

void LogHandleInfo(const CrashCustomClientInfo& entries, HANDLE process) {
  uint64_t address = 0;
  if (!GetMetadataNumber(entries, kCrashKeyHandleInfoItems, &address))
    return;
  std::unique_ptr<HandleTraceBuffer> trace(new (std::nothrow) HandleTraceBuffer);
  if (!trace || !ReadClientMemory(process, address, trace.get(), sizeof(*trace)))
    return;
  const uint64_t count = HandleTraceBuffer::kRecordCount;
  if (trace->begin >= count || trace->end >= count)
    return;
  uint64_t filter = 0;
  const bool filtered = GetMetadataNumber(entries, kCrashKeyInvalidHandle, &filter);
  size_t shown = 0;
  // Newest first: the ring's slot before `end`, back to `begin`.
  for (uint64_t cursor = trace->end; cursor != trace->begin && shown < kMaxHandleTraceLines;) {
    cursor = cursor == 0 ? count - 1 : cursor - 1;
    HandleTraceRecord& record = trace->records[cursor];
    if (filtered && record.handle != filter)
      continue;
    ++shown;
    if (!LOG_IS_ON(INFO))
      continue;
    // The client's texts need not be terminated.
    record.type[sizeof(record.type) - 1] = '\0';
    record.info[sizeof(record.info) - 1] = '\0';
    std::string line = base::StringPrintf(
        "Handle %016I64X, timestamp %x, info %s, type %s, thread id %x, inherit %d, protect from close %d, "
        "backtrace ",
        record.handle, record.timestamp, record.info, record.type, record.thread_id, record.inherit,
        record.protect_from_close);
    const size_t frames = std::min<size_t>(record.frame_count, kMaxHandleTraceFrames);
    for (size_t i = 0; i < frames; ++i)
      base::StringAppendF(&line, "%016I64X ", record.frames[i]);
    LOG(INFO) << line;
  }
}

bool GetMetadataNumber(const CrashCustomClientInfo& entries, const std::wstring& name, uint64_t* value) {
  std::wstring text;
  if (!GetCustomInfoValue(entries, name, &text))
    return false;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
    text.erase(0, 2);
  uint64_t number = 0;
  if (!base::HexStringToUInt64(base::WideToUTF8(text), &number))
    return false;
  *value = number;
  return true;
}

std::vector<ModuleListEntry> ParseModuleList(const std::wstring& list) {
  std::vector<ModuleListEntry> modules;
  size_t position = 0;
  while (position < list.size()) {
    const size_t name_end = list.find(L':', position);
    if (name_end == std::wstring::npos || name_end == position)
      break;
    ModuleListEntry entry;
    entry.name = list.substr(position, name_end - position);
    size_t field = name_end + 1;
    if (!ReadModuleListNumber(list, &field, &entry.base) || !ReadModuleListNumber(list, &field, &entry.size))
      break;
    // Only "::" ends the path, which holds a drive letter's ':' itself.
    const size_t path_end = list.find(L"::", field);
    if (path_end == std::wstring::npos || path_end == field)
      break;
    entry.path = list.substr(field, path_end - field);
    modules.push_back(std::move(entry));
    position = path_end + 2;
  }
  return modules;
}

bool ShouldKeepLogs() {
  const std::wstring value = ReadEnvironmentVariable(GetProductVariableName("_CRASH_KEEP_LOGS").c_str());
  if (value.size() > 3)
    return false;
  return value == L"1" || _wcsicmp(value.c_str(), L"yes") == 0;
}

}  // namespace installer
}  // namespace zorvi
