#include "base/threading/thread_local_storage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace base {
namespace {

using test_support::ScopedTestHandle;

DWORD WINAPI RunFunction(void* parameter) {
  (*static_cast<std::function<void()>*>(parameter))();
  return 0;
}

// Runs `body` on a new thread and returns once that thread has ended (its handle is signalled only after
// the loader has called the modules' thread-exit callbacks).
void RunOnThreadAndWaitForExit(std::function<void()> body) {
  ScopedTestHandle thread(CreateThread(nullptr, 0, &RunFunction, &body, 0, nullptr));
  ASSERT_TRUE(thread.valid());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
}

// What a destructor saw: the value and the thread it ran on, in call order.
struct DestructorCall {
  int slot_id;
  void* value;
  DWORD thread_id;
};
std::vector<DestructorCall>* g_calls = nullptr;
CRITICAL_SECTION g_calls_lock;

void Record(int slot_id, void* value) {
  EnterCriticalSection(&g_calls_lock);
  g_calls->push_back({slot_id, value, GetCurrentThreadId()});
  LeaveCriticalSection(&g_calls_lock);
}
void DestroyFirst(void* value) { Record(1, value); }
void DestroySecond(void* value) { Record(2, value); }

class ThreadLocalStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeCriticalSection(&g_calls_lock);
    g_calls = &calls_;
  }
  void TearDown() override {
    g_calls = nullptr;
    DeleteCriticalSection(&g_calls_lock);
  }
  std::vector<DestructorCall> calls_;
};

TEST_F(ThreadLocalStorageTest, EachThreadSeesItsOwnValue) {
  static ThreadLocalStorage::Slot slot;
  EXPECT_FALSE(slot.initialized());
  slot.Initialize(nullptr);
  EXPECT_TRUE(slot.initialized());
  int main_value = 0, thread_value = 0;
  EXPECT_EQ(nullptr, slot.Get());
  slot.Set(&main_value);
  void* seen_on_thread = &main_value;
  RunOnThreadAndWaitForExit([&] {
    seen_on_thread = slot.Get();
    slot.Set(&thread_value);
  });
  EXPECT_EQ(nullptr, seen_on_thread);
  EXPECT_EQ(&main_value, slot.Get());
}

TEST_F(ThreadLocalStorageTest, DestructorsRunOnEachOfEightEndingThreads) {
  static ThreadLocalStorage::Slot first, second, without_destructor;
  first.Initialize(&DestroyFirst);
  second.Initialize(&DestroySecond);
  without_destructor.Initialize(nullptr);

  constexpr int kThreads = 8;
  int values[kThreads][2];
  DWORD thread_ids[kThreads] = {};
  HANDLE threads[kThreads];
  std::function<void()> bodies[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    bodies[i] = [&, i] {
      thread_ids[i] = GetCurrentThreadId();
      first.Set(&values[i][0]);
      second.Set(&values[i][1]);
      without_destructor.Set(&values[i][0]);
    };
    threads[i] = CreateThread(nullptr, 0, &RunFunction, &bodies[i], 0, nullptr);
    ASSERT_NE(nullptr, threads[i]);
  }
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE));
  for (HANDLE thread : threads)
    CloseHandle(thread);

  ASSERT_EQ(2u * kThreads, calls_.size());
  for (int i = 0; i < kThreads; ++i) {
    std::vector<DestructorCall> on_thread;
    for (const DestructorCall& call : calls_) {
      if (call.thread_id == thread_ids[i])
        on_thread.push_back(call);
    }
    // Both destructors ran on the ending thread itself, the later-made slot first.
    ASSERT_EQ(2u, on_thread.size()) << i;
    EXPECT_EQ(2, on_thread[0].slot_id);
    EXPECT_EQ(&values[i][1], on_thread[0].value);
    EXPECT_EQ(1, on_thread[1].slot_id);
    EXPECT_EQ(&values[i][0], on_thread[1].value);
  }
}

TEST_F(ThreadLocalStorageTest, NullValuesGetNoDestructorCall) {
  static ThreadLocalStorage::Slot slot;
  slot.Initialize(&DestroyFirst);
  int value = 0;
  RunOnThreadAndWaitForExit([&] {
    slot.Set(&value);
    slot.Set(nullptr);
  });
  RunOnThreadAndWaitForExit([] {});  // never touched a slot
  EXPECT_TRUE(calls_.empty());
}

ThreadLocalStorage::Slot g_resetting_slot;
std::atomic<int> g_resetting_calls{0};
void DestroyAndStoreAgain(void* value) {
  ++g_resetting_calls;
  g_resetting_slot.Set(value);
}

TEST_F(ThreadLocalStorageTest, DestructorThatStoresAgainRunsOncePerPassUpToTheLimit) {
  g_resetting_slot.Initialize(&DestroyAndStoreAgain);
  int value = 0;
  RunOnThreadAndWaitForExit([&] { g_resetting_slot.Set(&value); });
  EXPECT_EQ(ThreadLocalStorage::kMaxDestructorPasses, g_resetting_calls.load());
}

ThreadLocalStorage::Slot g_lower_slot, g_higher_slot;
int g_higher_value = 0;
void DestroyLowerAndFillHigher(void* value) {
  Record(1, value);
  g_higher_slot.Set(&g_higher_value);  // visited already in this pass
}
void DestroyHigher(void* value) {
  Record(2, value);
}

TEST_F(ThreadLocalStorageTest, ValueStoredIntoAnAlreadyVisitedSlotIsDestroyedInTheNextPass) {
  g_lower_slot.Initialize(&DestroyLowerAndFillHigher);
  g_higher_slot.Initialize(&DestroyHigher);
  int lower_value = 0;
  RunOnThreadAndWaitForExit([&] { g_lower_slot.Set(&lower_value); });
  ASSERT_EQ(2u, calls_.size());
  EXPECT_EQ(1, calls_[0].slot_id);
  EXPECT_EQ(2, calls_[1].slot_id);
  EXPECT_EQ(&g_higher_value, calls_[1].value);
}

TEST_F(ThreadLocalStorageTest, ValuesSetDuringDestructionOfAnotherSlotAreSeenByGet) {
  static ThreadLocalStorage::Slot probe;
  probe.Initialize(nullptr);
  static ThreadLocalStorage::Slot* probe_pointer = &probe;
  static void* seen = nullptr;
  static ThreadLocalStorage::Slot observed;
  // Slot numbers only grow, so `observed` is destroyed before `probe`'s value would be.
  observed.Initialize([](void*) { seen = probe_pointer->Get(); });
  int value = 0, probe_value = 0;
  RunOnThreadAndWaitForExit([&] {
    probe.Set(&probe_value);
    observed.Set(&value);
  });
  EXPECT_EQ(&probe_value, seen);
}

// The slots of a DLL loaded at run time are destroyed through the DLL's own thread-exit callback, for
// threads made before and after the load, and for the thread that unloads it.
using InitializeSlotFunction = void (*)(ThreadLocalStorage::TLSDestructorFunc);
using SetValueFunction = void (*)(void*);
using GetValueFunction = void* (*)();

TEST_F(ThreadLocalStorageTest, DynamicallyLoadedDllRunsDestructorsAtThreadExit) {
  // A thread that exists before the load and uses the DLL's slot afterwards.
  ScopedTestHandle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  SetValueFunction set_value = nullptr;
  int early_value = 0;
  DWORD early_thread_id = 0;
  std::function<void()> early_body = [&] {
    WaitForSingleObject(go.get(), INFINITE);
    early_thread_id = GetCurrentThreadId();
    set_value(&early_value);
  };
  ScopedTestHandle early_thread(CreateThread(nullptr, 0, &RunFunction, &early_body, 0, nullptr));
  ASSERT_TRUE(early_thread.valid());

  const std::wstring path = test_support::ExecutableDir() + L"\\thread_local_storage_test_dll.dll";
  HMODULE library = LoadLibraryW(path.c_str());
  ASSERT_NE(nullptr, library) << GetLastError();
  auto initialize = reinterpret_cast<InitializeSlotFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "TestDllInitializeSlot")));
  set_value = reinterpret_cast<SetValueFunction>(reinterpret_cast<void*>(GetProcAddress(library, "TestDllSetValue")));
  auto get_value =
      reinterpret_cast<GetValueFunction>(reinterpret_cast<void*>(GetProcAddress(library, "TestDllGetValue")));
  ASSERT_TRUE(initialize && set_value && get_value);
  initialize(&DestroyFirst);

  SetEvent(go.get());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(early_thread.get(), INFINITE));

  constexpr int kLateThreads = 8;
  int late_values[kLateThreads];
  for (int& late_value : late_values) {
    RunOnThreadAndWaitForExit([&] {
      EXPECT_EQ(nullptr, get_value());
      set_value(&late_value);
    });
  }

  int unloading_value = 0;
  set_value(&unloading_value);
  const size_t calls_before_unload = calls_.size();
  FreeLibrary(library);

  ASSERT_EQ(1u + kLateThreads, calls_before_unload);
  EXPECT_EQ(&early_value, calls_[0].value);
  EXPECT_EQ(early_thread_id, calls_[0].thread_id);
  for (int i = 0; i < kLateThreads; ++i) {
    EXPECT_EQ(&late_values[i], calls_[1 + i].value);
    EXPECT_NE(GetCurrentThreadId(), calls_[1 + i].thread_id);
  }
  ASSERT_EQ(calls_before_unload + 1, calls_.size());
  EXPECT_EQ(&unloading_value, calls_.back().value);
  EXPECT_EQ(GetCurrentThreadId(), calls_.back().thread_id);
}

// Fresh processes: the first slot use of a process, and running out of slots.
TEST(ThreadLocalStorageProcessTest, RacingFirstUsersShareOneIndexAndLeakNone) {
  DWORD exit_code = 0;
  std::string output;
  ASSERT_TRUE(test_support::RunProcess(
      L"\"" + test_support::ExecutableDir() + L"\\thread_local_storage_test_child.exe\" race", &exit_code,
      &output));
  EXPECT_EQ(0u, exit_code) << output;
  EXPECT_NE(std::string::npos, output.find("indexes in use by slots: 1")) << output;
}

TEST(ThreadLocalStorageProcessTest, SlotNumber256IsFatal) {
  DWORD exit_code = 0;
  std::string output;
  ASSERT_TRUE(test_support::RunProcess(
      L"\"" + test_support::ExecutableDir() + L"\\thread_local_storage_test_child.exe\" exhaust", &exit_code,
      &output));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_BREAKPOINT), exit_code) << output;
  // Slots 1 to 255 were handed out, then the process stopped.
  EXPECT_NE(std::string::npos, output.find("initialized 255 slots")) << output;
  EXPECT_EQ(std::string::npos, output.find("initialized 256 slots")) << output;
  EXPECT_NE(std::string::npos, output.find("No thread-local storage slot left")) << output;
}

}  // namespace
}  // namespace base
