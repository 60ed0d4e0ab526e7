#include "base/threading/platform_thread.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "base/profiler/task_profiler.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread_name_registry.h"
#include "gtest/gtest.h"
#include "testing/test_support.h"

namespace base {
namespace {

// Records what the new thread saw of itself.
class RecordingDelegate : public PlatformThread::Delegate {
 public:
  void ThreadMain() override {
    thread_id = PlatformThread::CurrentId();
    windows_priority = ::GetThreadPriority(::GetCurrentThread());
    registered_name_before = ThreadNameRegistry::GetInstance()->GetName(thread_id);
    if (!name_to_set.empty())
      PlatformThread::SetName(name_to_set);
    registered_name_after = PlatformThread::GetName();
    if (ThreadData* data = ThreadData::Get()) {
      profiler_name = data->thread_name();
      profiler_worker_number = data->worker_thread_number();
    }
    // A detached thread's delegate may be gone once `ran` is signalled.
    WaitableEvent* const hold = hold_until;
    ran.Signal();
    if (hold)
      hold->Wait();
  }

  std::string name_to_set;
  WaitableEvent* hold_until = nullptr;
  WaitableEvent ran{true, false};
  PlatformThreadId thread_id = 0;
  int windows_priority = -100;
  std::string registered_name_before;
  std::string registered_name_after;
  std::string profiler_name;
  int32_t profiler_worker_number = -1;
};

TEST(PlatformThreadTest, JoinableThreadRunsItsDelegateElsewhere) {
  RecordingDelegate delegate;
  PlatformThreadHandle handle = nullptr;
  ASSERT_TRUE(PlatformThread::Create(0, &delegate, &handle));
  ASSERT_NE(handle, nullptr);
  PlatformThread::Join(handle);
  EXPECT_TRUE(delegate.ran.TimedWait(TimeDelta()));
  EXPECT_NE(delegate.thread_id, 0u);
  EXPECT_NE(delegate.thread_id, ::GetCurrentThreadId());
}

TEST(PlatformThreadTest, DetachedThreadRuns) {
  RecordingDelegate delegate;
  ASSERT_TRUE(PlatformThread::CreateNonJoinable(0, &delegate));
  delegate.ran.Wait();
  EXPECT_NE(delegate.thread_id, ::GetCurrentThreadId());
}

// The system's own reading of the thread's priority is the oracle.
TEST(PlatformThreadTest, PrioritiesMapToWindowsPriorities) {
  const struct {
    ThreadPriority priority;
    int expected;
  } cases[] = {
      {ThreadPriority::BACKGROUND, THREAD_PRIORITY_LOWEST},
      {ThreadPriority::NORMAL, THREAD_PRIORITY_NORMAL},
      {ThreadPriority::DISPLAY, THREAD_PRIORITY_ABOVE_NORMAL},
      {ThreadPriority::REALTIME_AUDIO, THREAD_PRIORITY_TIME_CRITICAL},
      // Out of range: the system refuses it and the thread keeps its normal priority.
      {static_cast<ThreadPriority>(7), THREAD_PRIORITY_NORMAL},
  };
  for (const auto& c : cases) {
    RecordingDelegate delegate;
    PlatformThreadHandle handle = nullptr;
    ASSERT_TRUE(PlatformThread::CreateWithPriority(0, &delegate, &handle, c.priority));
    PlatformThread::Join(handle);
    EXPECT_EQ(delegate.windows_priority, c.expected) << static_cast<int>(c.priority);
  }
}

// What the injected creation function saw, and whether it let the thread be made.
struct CreationRecord {
  SIZE_T stack_size = 0;
  DWORD flags = 0xFFFFFFFF;
  bool refuse = false;
  int calls = 0;
};
CreationRecord g_creation;

HANDLE WINAPI RecordingCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack_size,
                                    LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags, LPDWORD id) {
  ++g_creation.calls;
  g_creation.stack_size = stack_size;
  g_creation.flags = flags;
  if (g_creation.refuse) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return ::CreateThread(security, stack_size, start, param, flags, id);
}

class ScopedCreateThreadFunction {
 public:
  explicit ScopedCreateThreadFunction(bool refuse) {
    g_creation = CreationRecord();
    g_creation.refuse = refuse;
    previous_ = PlatformThread::SetCreateThreadFunctionForTesting(&RecordingCreateThread);
  }
  ~ScopedCreateThreadFunction() { PlatformThread::SetCreateThreadFunctionForTesting(previous_); }

 private:
  PlatformThread::CreateThreadFunction previous_;
};

TEST(PlatformThreadTest, StackSizeIsAReservation) {
  ScopedCreateThreadFunction recording(false);
  RecordingDelegate delegate;
  PlatformThreadHandle handle = nullptr;
  ASSERT_TRUE(PlatformThread::Create(256 * 1024, &delegate, &handle));
  PlatformThread::Join(handle);
  EXPECT_EQ(g_creation.stack_size, 256u * 1024u);
  EXPECT_EQ(g_creation.flags, static_cast<DWORD>(STACK_SIZE_PARAM_IS_A_RESERVATION));
  EXPECT_TRUE(delegate.ran.TimedWait(TimeDelta()));

  RecordingDelegate default_stack;
  ASSERT_TRUE(PlatformThread::Create(0, &default_stack, &handle));
  PlatformThread::Join(handle);
  EXPECT_EQ(g_creation.stack_size, 0u);
  EXPECT_EQ(g_creation.flags, 0u);
}

TEST(PlatformThreadTest, RefusedCreationReportsFailureAndRunsNothing) {
  ScopedCreateThreadFunction refusing(true);
  RecordingDelegate delegate;
  PlatformThreadHandle handle = nullptr;
  EXPECT_FALSE(PlatformThread::Create(0, &delegate, &handle));
  EXPECT_EQ(handle, nullptr);
  EXPECT_FALSE(PlatformThread::CreateNonJoinable(0, &delegate));
  EXPECT_EQ(g_creation.calls, 2);
  EXPECT_FALSE(delegate.ran.TimedWait(TimeDelta()));
}

TEST(PlatformThreadTest, NameIsRegisteredWhileTheThreadRuns) {
  WaitableEvent release(true, false);
  RecordingDelegate delegate;
  delegate.name_to_set = "PlatformThreadTest named";
  delegate.hold_until = &release;
  PlatformThreadHandle handle = nullptr;
  ASSERT_TRUE(PlatformThread::Create(0, &delegate, &handle));
  delegate.ran.Wait();
  // Another thread reads the running thread's name.
  EXPECT_STREQ(ThreadNameRegistry::GetInstance()->GetName(delegate.thread_id), "PlatformThreadTest named");
  release.Signal();
  PlatformThread::Join(handle);

  EXPECT_EQ(delegate.registered_name_before, "");
  EXPECT_EQ(delegate.registered_name_after, "PlatformThreadTest named");
  // The task profiler knows the thread by the same name.
  EXPECT_EQ(delegate.profiler_name, "PlatformThreadTest named");
  EXPECT_EQ(delegate.profiler_worker_number, 0);
  // An ended thread is forgotten.
  EXPECT_STREQ(ThreadNameRegistry::GetInstance()->GetName(delegate.thread_id), "");
}

TEST(PlatformThreadTest, BrokerEventNameSkipsTheTaskProfiler) {
  // Profiling on, as another thread's name would have switched it on.
  ThreadData::Initialize();
  RecordingDelegate delegate;
  delegate.name_to_set = "BrokerEvent";
  PlatformThreadHandle handle = nullptr;
  ASSERT_TRUE(PlatformThread::Create(0, &delegate, &handle));
  PlatformThread::Join(handle);
  EXPECT_EQ(delegate.registered_name_after, "BrokerEvent");
  // No named record: the profiler gave the thread an anonymous worker record.
  EXPECT_NE(delegate.profiler_name, "BrokerEvent");
  EXPECT_GT(delegate.profiler_worker_number, 0);
}

// A sleep ends once the tick clock has moved on by the duration; what remains is slept in whole milliseconds
// rounded up, so a sub-millisecond sleep may end without sleeping at all when the clock has already passed its
// end. The performance counter, read around it, sees more than the duration less one step of the tick clock
// (a microsecond, or a millisecond when the clock is the multimedia timer).
TEST(PlatformThreadTest, SleepLastsAtLeastTheDurationOnTheTickClock) {
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  for (int64_t microseconds : {1500, 1, 999, 1001, 16000}) {
    const TimeDelta duration = TimeDelta::FromMicroseconds(microseconds);
    ::QueryPerformanceCounter(&start);
    const TimeTicks before = TimeTicks::Now();
    PlatformThread::Sleep(duration);
    const TimeTicks after = TimeTicks::Now();
    ::QueryPerformanceCounter(&end);
    EXPECT_GE(after - before, duration) << microseconds;
    const double elapsed_us = (end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart;
    EXPECT_GT(elapsed_us + 1000.0, static_cast<double>(microseconds)) << microseconds;
  }
}

TEST(PlatformThreadTest, CurrentHandleIsThePseudoHandle) {
  EXPECT_EQ(PlatformThread::CurrentHandle(), ::GetCurrentThread());
  EXPECT_EQ(PlatformThread::CurrentId(), ::GetCurrentThreadId());
}


// The debugger is the oracle: it must receive the naming exception with a record that names the thread, and
// a debugger that passes the exception back must leave the child running (exit code 0).
TEST(PlatformThreadTest, DebuggerReceivesTheThreadName) {
  std::wstring command = L"\"" + test_support::ExecutableDir() + L"\\platform_thread_test_child.exe\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                               nullptr, &startup, &process))
      << ::GetLastError();
  test_support::ScopedTestHandle process_handle(process.hProcess);
  test_support::ScopedTestHandle thread_handle(process.hThread);

  int naming_exceptions = 0;
  DWORD record_count = 0;
  ULONG_PTR record_type = 0;
  ULONG_PTR record_thread_id = 0;
  DWORD raising_thread_id = 0;
  std::string name;
  DWORD exit_code = 0xFFFFFFFF;
  for (bool running = true; running;) {
    DEBUG_EVENT event;
    ASSERT_TRUE(::WaitForDebugEvent(&event, INFINITE));
    DWORD continue_status = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile)
          ::CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile)
          ::CloseHandle(event.u.LoadDll.hFile);
        break;
      case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        if (record.ExceptionCode == 0x406D1388) {
          ++naming_exceptions;
          record_count = record.NumberParameters;
          record_type = record.ExceptionInformation[0];
          record_thread_id = record.ExceptionInformation[2];
          raising_thread_id = event.dwThreadId;
          char buffer[64] = {};
          SIZE_T read = 0;
          ::ReadProcessMemory(process.hProcess, reinterpret_cast<const void*>(record.ExceptionInformation[1]),
                              buffer, sizeof(buffer) - 1, &read);
          name = buffer;
          continue_status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
          continue_status = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        exit_code = event.u.ExitProcess.dwExitCode;
        running = false;
        break;
      default:
        break;
    }
    ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continue_status);
  }

  EXPECT_EQ(naming_exceptions, 1);
  EXPECT_EQ(record_type, 0x1000u);
  EXPECT_EQ(name, "Named under a debugger");
  EXPECT_EQ(record_thread_id, raising_thread_id);
  // The record's words: type, name, thread id and flags in three 64-bit words.
  EXPECT_EQ(record_count, 3u);
  EXPECT_EQ(exit_code, 0u);
}

}  // namespace
}  // namespace base
