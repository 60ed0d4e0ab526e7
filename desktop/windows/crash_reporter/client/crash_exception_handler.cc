#include "desktop/windows/crash_reporter/client/crash_exception_handler.h"

// Order matters: dbghelp.h needs windows.h first.
#include <windows.h>
#include <dbghelp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "base/strings/stringprintf.h"
#include "base/win/native_library.h"
#include "desktop/windows/crash_reporter/client/crash_server_client.h"
#include "desktop/windows/crash_reporter/dump_library.h"

namespace zorvi {
namespace installer {
namespace {

constexpr DWORD kInvalidParameterCode = 0xC000000D;
constexpr DWORD kPureCallCode = 0xC0000025;  // non-continuable exception
constexpr DWORD kInvalidHandleCode = 0xC0000008;
constexpr DWORD kBreakpointCode = 0x80000003;
constexpr DWORD kSingleStepCode = 0x80000004;
// What an uncaught C++ exception is in the platform's own compilers: raising it lets the unhandled-exception
// filter see a C++ exception that the runtime would otherwise end quietly through std::terminate.
constexpr DWORD kUncaughtCxxExceptionCode = 0xE06D7363;

constexpr DWORD kHandlerThreadStackSize = 64 * 1024;
constexpr DWORD kHandlerThreadStopWaitMs = 60000;
constexpr uint32_t kInfoStreamType = 0x47670001;
constexpr uint32_t kAssertionStreamType = 0x47670002;
constexpr ULONG64 kCodeAroundCrash = 128;  // bytes on each side of the crashing instruction

// The information stream of an in-process dump: which thread wrote it for which.
struct DumpInfoStream {
  uint32_t validity;  // bit 0: dump thread id valid, bit 1: requesting thread id valid
  uint32_t dump_thread_id;
  uint32_t requesting_thread_id;
};
static_assert(sizeof(DumpInfoStream) == 12);

// Process-wide state of every handler. The lock is recursive on purpose: a crash inside a hook re-enters it on
// the same thread and reaches the handler below (the depth says which).
CRITICAL_SECTION g_stack_lock;
std::vector<CrashExceptionHandler*>* g_handler_stack = nullptr;
int g_hook_depth = 0;
std::terminate_handler g_previous_terminate_handler = nullptr;
std::atomic<bool> g_uuid_create_disabled{false};

// The stack lock exists while a handler lives: made with the first, deleted with the last. A hook at work counts
// too, so that one entered as the last handler goes (or after it, through a filter that chained to it) never
// meets a deleted lock. The counts change under a lock of their own, which needs no making or deleting, so that
// a handler made on one thread and the last one going on another never race over the stack lock.
SRWLOCK g_stack_lock_life = SRWLOCK_INIT;
int g_live_handlers = 0;
int g_hooks_at_work = 0;
bool g_stack_lock_exists = false;

// Adds one to `count`, making the stack lock when it is the first of either count.
void HoldStackLock(int* count) {
  AcquireSRWLockExclusive(&g_stack_lock_life);
  if (!g_stack_lock_exists) {
    InitializeCriticalSection(&g_stack_lock);
    g_stack_lock_exists = true;
  }
  ++*count;
  ReleaseSRWLockExclusive(&g_stack_lock_life);
}

// Takes one from `count`, deleting the stack lock when both counts are 0.
void ReleaseStackLock(int* count) {
  AcquireSRWLockExclusive(&g_stack_lock_life);
  --*count;
  if (g_live_handlers == 0 && g_hooks_at_work == 0) {
    DeleteCriticalSection(&g_stack_lock);
    g_stack_lock_exists = false;
  }
  ReleaseSRWLockExclusive(&g_stack_lock_life);
}

[[noreturn]] void RaiseUncaughtCxxException() {
  RaiseException(kUncaughtCxxExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  std::abort();
}

// Copies a runtime-supplied text, cut to fit and always terminated; null becomes empty.
void CopyAssertionText(wchar_t (&field)[CrashAssertionRecord::kTextLength], const wchar_t* text) {
  size_t length = 0;
  for (; text && length + 1 < CrashAssertionRecord::kTextLength && text[length]; ++length)
    field[length] = text[length];
  field[length] = L'\0';
}

}  // namespace

CrashExceptionHandler::CrashExceptionHandler(const std::wstring& dump_folder, FilterCallback filter,
                                             DumpDoneCallback dump_done, void* callback_context, int handler_types,
                                             uint32_t dump_type, const std::wstring& pipe_name,
                                             const CrashCustomClientInfo* custom_info)
    : filter_(filter),
      dump_done_(dump_done),
      callback_context_(callback_context),
      handler_types_(handler_types),
      dump_type_(dump_type) {
  HoldStackLock(&g_live_handlers);
  auto client = std::make_unique<CrashServerClient>(pipe_name, dump_type, custom_info);
  if (client->Register())
    client_ = std::move(client);
  else
    StartInProcessMode(dump_folder);
  extra_memory_.push_back({0, 0});

  if (handler_types_ == kHandleNothing)
    return;
  EnterCriticalSection(&g_stack_lock);
  if (!g_handler_stack) {
    g_handler_stack = new std::vector<CrashExceptionHandler*>();
    g_previous_terminate_handler = std::set_terminate(&RaiseUncaughtCxxException);
  }
  g_handler_stack->push_back(this);
  if (handler_types_ & kHandleExceptions)
    previous_filter_ = SetUnhandledExceptionFilter(&HandleException);
  if (handler_types_ & kHandleInvalidParameters)
    previous_invalid_parameter_handler_ = SetInvalidParameterHandler(&HandleInvalidParameter);
  if (handler_types_ & kHandlePureCalls)
    previous_pure_call_handler_ = SetPureCallHandler(&HandlePureVirtualCall);
  LeaveCriticalSection(&g_stack_lock);
}

CrashExceptionHandler::~CrashExceptionHandler() {
  if (dbghelp_)
    FreeLibrary(dbghelp_);
  if (rpcrt4_)
    FreeLibrary(rpcrt4_);
  if (handler_types_ != kHandleNothing) {
    EnterCriticalSection(&g_stack_lock);
    RestorePreviousHooks();
    if (g_handler_stack->back() != this) {
      fputs("warning: removing crash handler out of order\n", stderr);
      g_handler_stack->erase(std::remove(g_handler_stack->begin(), g_handler_stack->end(), this),
                             g_handler_stack->end());
    } else {
      g_handler_stack->pop_back();
    }
    if (g_handler_stack->empty()) {
      delete g_handler_stack;
      g_handler_stack = nullptr;
      std::set_terminate(g_previous_terminate_handler);
    }
    LeaveCriticalSection(&g_stack_lock);
  }
  if (handler_thread_.IsValid()) {
    handler_thread_stopping_ = true;
    ReleaseSemaphore(dump_request_semaphore_.Get(), 1, nullptr);
    WaitForSingleObject(handler_thread_.Get(), kHandlerThreadStopWaitMs);
  }
  if (handoff_lock_initialized_)
    DeleteCriticalSection(&handoff_lock_);
  ReleaseStackLock(&g_live_handlers);
}

int CrashExceptionHandler::LiveHandlerCountForTesting() {
  AcquireSRWLockShared(&g_stack_lock_life);
  const int count = g_stack_lock_exists ? g_live_handlers : -1;
  ReleaseSRWLockShared(&g_stack_lock_life);
  return count;
}

void CrashExceptionHandler::DisableUuidCreateForTesting(bool disable) {
  g_uuid_create_disabled = disable;
}

void CrashExceptionHandler::StartInProcessMode(const std::wstring& dump_folder) {
  InitializeCriticalSection(&handoff_lock_);
  handoff_lock_initialized_ = true;
  dump_request_semaphore_.Set(CreateSemaphoreW(nullptr, 0, 1, nullptr));
  dump_done_semaphore_.Set(CreateSemaphoreW(nullptr, 0, 1, nullptr));
  if (dump_request_semaphore_.IsValid() && dump_done_semaphore_.IsValid())
    handler_thread_.Set(CreateThread(nullptr, kHandlerThreadStackSize, &HandlerThreadMain, this, 0, nullptr));
  dbghelp_ = base::win::LoadSystemLibrary(L"dbghelp.dll");
  if (dbghelp_)
    write_dump_function_ = reinterpret_cast<void*>(GetProcAddress(dbghelp_, "MiniDumpWriteDump"));
  rpcrt4_ = base::win::LoadSystemLibrary(L"rpcrt4.dll");
  if (rpcrt4_ && !g_uuid_create_disabled)
    uuid_create_function_ = reinterpret_cast<void*>(GetProcAddress(rpcrt4_, "UuidCreate"));
  dump_folder_ = dump_folder;
  MakeDumpId();
}

void CrashExceptionHandler::MakeDumpId() {
  GUID guid = {};
  if (uuid_create_function_)
    reinterpret_cast<UuidCreateFunction>(uuid_create_function_)(&guid);
  dump_id_ = GuidToString(guid);
  dump_path_ = base::StringPrintf(L"%ls\\%ls.dmp", dump_folder_.c_str(), dump_id_.c_str());
  if (dump_path_.size() >= MAX_PATH)
    dump_path_.resize(MAX_PATH - 1);
}

void CrashExceptionHandler::RestorePreviousHooks() const {
  if (handler_types_ & kHandleExceptions)
    SetUnhandledExceptionFilter(previous_filter_);
  if (handler_types_ & kHandleInvalidParameters)
    SetInvalidParameterHandler(previous_invalid_parameter_handler_);
  if (handler_types_ & kHandlePureCalls)
    SetPureCallHandler(previous_pure_call_handler_);
}

// Takes the process-wide lock (a second crashing thread waits here while the first reports) and picks the
// handler for this level of nesting: the newest on the first entry, the one below it for a crash inside a hook
// on the same thread. The hooks stay installed for the whole report, so that other threads land here too
// rather than in a predecessor that would end the process under the report; nesting deeper than the stack
// reaches the predecessors of the oldest handler (*bottom) instead.
CrashExceptionHandler* CrashExceptionHandler::EnterHook(CrashExceptionHandler** bottom) {
  HoldStackLock(&g_hooks_at_work);
  EnterCriticalSection(&g_stack_lock);
  ++g_hook_depth;
  const int size = g_handler_stack ? static_cast<int>(g_handler_stack->size()) : 0;
  *bottom = size > 0 ? g_handler_stack->front() : nullptr;
  return g_hook_depth <= size ? (*g_handler_stack)[size - g_hook_depth] : nullptr;
}

void CrashExceptionHandler::LeaveHook() {
  --g_hook_depth;
  LeaveCriticalSection(&g_stack_lock);
  ReleaseStackLock(&g_hooks_at_work);
}

LONG WINAPI CrashExceptionHandler::HandleException(EXCEPTION_POINTERS* exception_pointers) {
  CrashExceptionHandler* bottom = nullptr;
  CrashExceptionHandler* handler = EnterHook(&bottom);
  CrashExceptionHandler* passing_on = handler ? handler : bottom;
  auto pass_on = [&] {
    return passing_on && passing_on->previous_filter_ ? passing_on->previous_filter_(exception_pointers)
                                                      : EXCEPTION_CONTINUE_SEARCH;
  };
  const DWORD code = exception_pointers && exception_pointers->ExceptionRecord
                         ? exception_pointers->ExceptionRecord->ExceptionCode
                         : 0;
  LONG result;
  if (!handler) {
    result = pass_on();
  } else if (code == kInvalidHandleCode && handler->consume_invalid_handle_exceptions_) {
    result = EXCEPTION_CONTINUE_EXECUTION;
  } else if ((code == kBreakpointCode || code == kSingleStepCode) && !handler->report_debug_exceptions_) {
    result = pass_on();
  } else {
    const bool written = handler->IsOutOfProcess()
                             ? handler->WriteDumpWithException(GetCurrentThreadId(), exception_pointers, nullptr)
                             : handler->WriteDumpOnHandlerThread(exception_pointers, nullptr);
    result = written ? EXCEPTION_EXECUTE_HANDLER : pass_on();
  }
  LeaveHook();
  return result;
}

void CrashExceptionHandler::HandleInvalidParameter(const wchar_t* expression, const wchar_t* function,
                                                   const wchar_t* file, unsigned int line, uintptr_t reserved) {
  CrashExceptionHandler* bottom = nullptr;
  CrashExceptionHandler* handler = EnterHook(&bottom);
  CrashAssertionRecord assertion = {};
  CopyAssertionText(assertion.expression, expression);
  CopyAssertionText(assertion.function, function);
  CopyAssertionText(assertion.file, file);
  assertion.line = line;
  assertion.type = kInvalidParameterAssertion;
  if (!handler || !handler->ReportAssertion(kInvalidParameterCode, &assertion)) {
    CrashExceptionHandler* passing_on = handler ? handler : bottom;
    if (passing_on && passing_on->previous_invalid_parameter_handler_)
      passing_on->previous_invalid_parameter_handler_(expression, function, file, line, reserved);
    else
      CallRuntimeInvalidParameterReport(expression, function, file, line, reserved);
  }
  // An installer process reads exit code 0 as success; a process that failed this way must not look like one,
  // and its runtime is in no state for the at-exit clean-up either.
  TerminateProcess(GetCurrentProcess(), kInvalidParameterCode);
}

void CrashExceptionHandler::HandlePureVirtualCall() {
  CrashExceptionHandler* bottom = nullptr;
  CrashExceptionHandler* handler = EnterHook(&bottom);
  CrashAssertionRecord assertion = {};
  assertion.type = kPureCallAssertion;
  if (!handler || !handler->ReportAssertion(kPureCallCode, &assertion)) {
    CrashExceptionHandler* passing_on = handler ? handler : bottom;
    if (!passing_on || !passing_on->previous_pure_call_handler_) {
      LeaveHook();
      return;  // the runtime's own handling follows
    }
    passing_on->previous_pure_call_handler_();
  }
  TerminateProcess(GetCurrentProcess(), kPureCallCode);  // never 0, as for invalid parameters
}

bool CrashExceptionHandler::ReportAssertion(DWORD exception_code, CrashAssertionRecord* assertion) {
  CONTEXT context = {};
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = exception_code;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  record.NumberParameters = 3;
  record.ExceptionInformation[0] = reinterpret_cast<ULONG_PTR>(assertion->expression);
  record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(assertion->file);
  record.ExceptionInformation[2] = assertion->line;
  EXCEPTION_POINTERS exception_pointers = {&record, &context};
  if (IsOutOfProcess())
    return WriteDumpWithException(GetCurrentThreadId(), &exception_pointers, assertion);
  return WriteDumpOnHandlerThread(&exception_pointers, assertion);
}

bool CrashExceptionHandler::WriteDumpWithException(DWORD thread_id, EXCEPTION_POINTERS* exception_pointers,
                                                   CrashAssertionRecord* assertion) {
  if (filter_ && !filter_(callback_context_, exception_pointers, assertion))
    return false;
  const bool succeeded =
      client_ ? client_->RequestDump(exception_pointers, assertion)
              : WriteMinidump(thread_id, exception_pointers, assertion, GetCurrentProcess(), true);
  if (dump_done_) {
    return dump_done_(dump_folder_.c_str(), dump_id_.c_str(), callback_context_, exception_pointers, assertion,
                      succeeded);
  }
  return succeeded;
}

bool CrashExceptionHandler::WriteDumpOnHandlerThread(EXCEPTION_POINTERS* exception_pointers,
                                                     CrashAssertionRecord* assertion) {
  if (!handler_thread_.IsValid())
    return false;
  EnterCriticalSection(&handoff_lock_);
  requesting_thread_id_ = GetCurrentThreadId();
  requested_exception_pointers_ = exception_pointers;
  requested_assertion_ = assertion;
  ReleaseSemaphore(dump_request_semaphore_.Get(), 1, nullptr);
  WaitForSingleObject(dump_done_semaphore_.Get(), INFINITE);
  const bool result = handler_thread_result_;
  requesting_thread_id_ = 0;
  requested_exception_pointers_ = nullptr;
  requested_assertion_ = nullptr;
  LeaveCriticalSection(&handoff_lock_);
  return result;
}

bool CrashExceptionHandler::WriteDumpNow(EXCEPTION_POINTERS* exception_pointers) {
  if (IsOutOfProcess())
    return WriteDumpWithException(GetCurrentThreadId(), exception_pointers, nullptr);
  const bool result = WriteDumpOnHandlerThread(exception_pointers, nullptr);
  MakeDumpId();  // the next dump must not collide with this one's file
  return result;
}

DWORD WINAPI CrashExceptionHandler::HandlerThreadMain(void* parameter) {
  auto* self = static_cast<CrashExceptionHandler*>(parameter);
  for (;;) {
    WaitForSingleObject(self->dump_request_semaphore_.Get(), INFINITE);
    if (self->handler_thread_stopping_)
      return 0;
    // The crash happened on the requesting thread; this one only writes, with a healthy stack of its own.
    self->handler_thread_result_ = self->WriteDumpWithException(
        self->requesting_thread_id_, self->requested_exception_pointers_, self->requested_assertion_);
    ReleaseSemaphore(self->dump_done_semaphore_.Get(), 1, nullptr);
  }
}

bool CrashExceptionHandler::WriteMinidump(DWORD requesting_thread_id, EXCEPTION_POINTERS* exception_pointers,
                                          CrashAssertionRecord* assertion, HANDLE process, bool add_info_stream) {
  if (!write_dump_function_)
    return false;
  base::win::ScopedHandle file(
      CreateFileW(dump_path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    return false;

  MINIDUMP_EXCEPTION_INFORMATION crash_info = {requesting_thread_id, exception_pointers, FALSE};
  DumpInfoStream info = {3, GetCurrentThreadId(), requesting_thread_id};
  MINIDUMP_USER_STREAM streams[2] = {};
  ULONG stream_count = 0;
  if (add_info_stream)
    streams[stream_count++] = {kInfoStreamType, sizeof(info), &info};
  if (assertion)
    streams[stream_count++] = {kAssertionStreamType, sizeof(*assertion), assertion};
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {stream_count, streams};

  if (exception_pointers && exception_pointers->ContextRecord) {
    const ULONG64 pc = exception_pointers->ContextRecord->Rip;
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQueryEx(process, reinterpret_cast<void*>(pc), &region, sizeof(region)) &&
        region.State == MEM_COMMIT) {
      const ULONG64 region_start = reinterpret_cast<uintptr_t>(region.BaseAddress);
      const ULONG64 region_end = region_start + region.RegionSize;
      const ULONG64 start = std::max(region_start, pc > kCodeAroundCrash ? pc - kCodeAroundCrash : 0);
      const ULONG64 end = std::min(region_end, pc + kCodeAroundCrash);
      extra_memory_[0] = {start, static_cast<ULONG>(end - start)};
    }
  }
  next_extra_memory_ = 0;
  MINIDUMP_CALLBACK_INFORMATION callback = {&MinidumpCallback, this};
  const BOOL written = reinterpret_cast<MiniDumpWriteDumpFunction>(write_dump_function_)(
      process, GetProcessId(process), file.Get(), static_cast<MINIDUMP_TYPE>(dump_type_),
      exception_pointers ? &crash_info : nullptr, &user_streams, &callback);
  return written != FALSE;
}

BOOL CALLBACK CrashExceptionHandler::MinidumpCallback(void* parameter, _MINIDUMP_CALLBACK_INPUT* input,
                                                      _MINIDUMP_CALLBACK_OUTPUT* output) {
  auto* self = static_cast<CrashExceptionHandler*>(parameter);
  switch (input->CallbackType) {
    case ModuleCallback:
    case ThreadCallback:
    case IncludeThreadCallback:
    case IncludeModuleCallback:
      return TRUE;
    case MemoryCallback: {
      // Hands out the extra ranges one per call; the reserved first one only once it has been set.
      if (self->next_extra_memory_ == 0 && self->extra_memory_[0].size == 0)
        self->next_extra_memory_ = 1;
      if (self->next_extra_memory_ >= self->extra_memory_.size())
        return FALSE;
      const MemoryRange& range = self->extra_memory_[self->next_extra_memory_++];
      output->MemoryBase = range.base;
      output->MemorySize = range.size;
      return TRUE;
    }
    case CancelCallback:
      output->Cancel = FALSE;
      output->CheckCancel = FALSE;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace installer
}  // namespace zorvi
