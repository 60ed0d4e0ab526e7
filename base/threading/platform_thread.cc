#include "base/threading/platform_thread.h"

#include <algorithm>
#include <atomic>

#include "base/logging.h"
#include "base/profiler/task_profiler.h"
#include "base/threading/thread_name_registry.h"
#include "base/threading/tracing_threading_hooks.h"
#include "base/win/module_checks.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"

namespace base {
namespace {

std::atomic<PlatformThread::CreateThreadFunction> g_create_thread{nullptr};

// The start parameters, handed to the new thread, which frees them before the delegate runs.
struct ThreadParams {
  PlatformThread::Delegate* delegate;
  bool joinable;
  ThreadPriority priority;
};

int WindowsPriority(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::BACKGROUND:
      return THREAD_PRIORITY_LOWEST;
    case ThreadPriority::NORMAL:
      return THREAD_PRIORITY_NORMAL;
    case ThreadPriority::DISPLAY:
      return THREAD_PRIORITY_ABOVE_NORMAL;
    case ThreadPriority::REALTIME_AUDIO:
      return THREAD_PRIORITY_TIME_CRITICAL;
  }
  return 0x7FFFFFFF;  // the system refuses it
}

DWORD WINAPI ThreadFunc(void* start_params) {
  ThreadParams* params = static_cast<ThreadParams*>(start_params);
  PlatformThread::Delegate* delegate = params->delegate;
  if (params->priority != ThreadPriority::NORMAL &&
      !::SetThreadPriority(::GetCurrentThread(), WindowsPriority(params->priority))) {
    PLOG(ERROR) << "SetThreadPriority " << static_cast<int>(params->priority);
  }

  // A real handle of this thread (the pseudo handle means "the caller" to whoever reads it) names the thread
  // in the registry while it runs.
  HANDLE own_handle = nullptr;
  PCHECK(::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &own_handle, 0,
                           FALSE, DUPLICATE_SAME_ACCESS));
  win::ScopedHandle thread_handle(own_handle);
  const PlatformThreadId thread_id = PlatformThread::CurrentId();
  ThreadNameRegistry::GetInstance()->RegisterThread(thread_handle.Get(), thread_id);

  delete params;
  delegate->ThreadMain();

  ThreadNameRegistry::GetInstance()->RemoveName(thread_handle.Get(), thread_id);
  return 0;
}

// The record that debuggers read from the thread-naming exception.
constexpr DWORD kVCThreadNameException = 0x406D1388;
struct ThreadNameInfo {
  DWORD type;         // 0x1000
  LPCSTR name;
  DWORD thread_id;
  DWORD flags;        // 0
};

LONG WINAPI ContinueAfterThreadNameException(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == kVCThreadNameException ? EXCEPTION_CONTINUE_EXECUTION
                                                                            : EXCEPTION_CONTINUE_SEARCH;
}

// Tells a debugger the thread's name. A debugger that does not handle the exception passes it back, and the
// vectored handler lets the thread go on.
void RaiseThreadNameException(PlatformThreadId thread_id, const char* name) {
  ThreadNameInfo info = {0x1000, name, thread_id, 0};
  void* handler = ::AddVectoredExceptionHandler(1, &ContinueAfterThreadNameException);
  // The argument count covers exactly the record: counting it in 32-bit words would make the system copy
  // twice its size from the stack.
  ::RaiseException(kVCThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));
  if (handler)
    ::RemoveVectoredExceptionHandler(handler);
}

}  // namespace

// static
PlatformThreadId PlatformThread::CurrentId() {
  return ::GetCurrentThreadId();
}

// static
HANDLE PlatformThread::CurrentHandle() {
  return ::GetCurrentThread();
}

// static
void PlatformThread::YieldCurrentThread() {
  ::Sleep(0);
}

// static
void PlatformThread::Sleep(TimeDelta duration) {
  const TimeTicks end = TimeTicks::Now() + duration;
  for (TimeTicks now = TimeTicks::Now(); now < end; now = TimeTicks::Now()) {
    // Never INFINITE, and never the low bits of a longer time.
    const int64_t milliseconds = (end - now).InMillisecondsRoundedUp();
    ::Sleep(static_cast<DWORD>(std::min<int64_t>(milliseconds, INFINITE - 1)));
  }
}

// static
void PlatformThread::SetName(const std::string& name) {
  // Tracing reads the name through these.
  internal::InstallTracingThreadingHooks();
  ThreadNameRegistry::GetInstance()->SetName(CurrentId(), name);
  if (name != "BrokerEvent")
    ThreadData::InitializeThreadContext(name);
  if (!::IsDebuggerPresent() && !win::IsModuleInstrumented())
    return;
  RaiseThreadNameException(CurrentId(), name.c_str());
}

// static
const char* PlatformThread::GetName() {
  return ThreadNameRegistry::GetInstance()->GetName(CurrentId());
}

// static
bool PlatformThread::CreateWithPriority(size_t stack_size, Delegate* delegate, PlatformThreadHandle* thread_handle,
                                        ThreadPriority priority) {
  DWORD flags = 0;
  if (stack_size > 0 && win::GetVersion() >= win::VERSION_XP)
    flags = STACK_SIZE_PARAM_IS_A_RESERVATION;
  else
    stack_size = 0;

  auto* params = new ThreadParams{delegate, thread_handle != nullptr, priority};
  CreateThreadFunction create = g_create_thread.load(std::memory_order_acquire);
  if (!create)
    create = &::CreateThread;
  HANDLE handle = create(nullptr, stack_size, &ThreadFunc, params, flags, nullptr);
  if (!handle) {
    PLOG(ERROR) << "CreateThread";
    delete params;
    return false;
  }
  if (thread_handle)
    *thread_handle = handle;
  else
    ::CloseHandle(handle);
  return true;
}

// static
bool PlatformThread::Create(size_t stack_size, Delegate* delegate, PlatformThreadHandle* thread_handle) {
  return CreateWithPriority(stack_size, delegate, thread_handle, ThreadPriority::NORMAL);
}

// static
bool PlatformThread::CreateNonJoinable(size_t stack_size, Delegate* delegate) {
  return CreateWithPriority(stack_size, delegate, nullptr, ThreadPriority::NORMAL);
}

// static
void PlatformThread::Join(PlatformThreadHandle thread_handle) {
  CHECK(thread_handle);
  const DWORD result = ::WaitForSingleObject(thread_handle, INFINITE);
  PCHECK(result == WAIT_OBJECT_0) << "joining a thread: wait result " << result;
  ::CloseHandle(thread_handle);
}

// static
PlatformThread::CreateThreadFunction PlatformThread::SetCreateThreadFunctionForTesting(
    CreateThreadFunction function) {
  return g_create_thread.exchange(function, std::memory_order_acq_rel);
}

}  // namespace base
