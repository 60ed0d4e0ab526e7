#include "desktop/windows/crash_reporter/reporter/reporter_lifetime.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "base/command_line.h"
#include "testing/test_support.h"

namespace zorvi {
namespace installer {
namespace {

TEST(ReporterLifetimeTest, TheParentIdSwitchIsADecimal32BitNumber) {
  const struct {
    const char* value;  // null: no switch
    bool read;
    uint32_t id;
  } rows[] = {{nullptr, false, 0},        {"", false, 0},          {"abc", false, 0},
              {"12x", false, 0},          {"-1", false, 0},        {"4294967296", false, 0},
              {"4294967295", true, 4294967295u}, {"1234", true, 1234}, {"0", true, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value ? row.value : "(none)");
    base::CommandLine command_line(base::FilePath(L"reporter.exe"));
    if (row.value)
      command_line.AppendSwitchASCII("crash-reporter-parent-id", row.value);
    uint32_t id = 77;
    EXPECT_EQ(row.read, GetParentProcessIdFromSwitch(command_line, &id));
    EXPECT_EQ(row.read ? row.id : 77u, id) << "untouched on failure";
  }
}

// A process of the test's own: started suspended, so it ends only when the test ends it.
class ParentProcess {
 public:
  ParentProcess() {
    std::wstring command = L"C:\\windows\\system32\\cmd.exe /c exit 0";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                       nullptr, nullptr, &startup, &info)) {
      process_.reset(info.hProcess);
      CloseHandle(info.hThread);
      id_ = info.dwProcessId;
    }
  }
  ~ParentProcess() { End(); }
  // Ends it and waits until it has; its id stays its own while the handle is open.
  void End() {
    if (process_.valid()) {
      TerminateProcess(process_.get(), 0);
      WaitForSingleObject(process_.get(), INFINITE);
    }
  }
  uint32_t id() const { return id_; }

 private:
  test_support::ScopedTestHandle process_;
  uint32_t id_ = 0;
};

TEST(ReporterLifetimeTest, TheParentHoldsOneUnitUntilItExits) {
  ReporterLifetime& lifetime = ReporterLifetime::Get();
  EXPECT_FALSE(lifetime.WaitForZero()) << "before Init";
  ASSERT_TRUE(lifetime.Init());
  ParentProcess parent;
  ASSERT_NE(0u, parent.id());
  {
    ParentProcessWatcher watcher;
    ASSERT_TRUE(watcher.Watch(parent.id()));
    EXPECT_EQ(1, lifetime.count());
    parent.End();
    EXPECT_TRUE(lifetime.WaitForZero());
    EXPECT_EQ(0, lifetime.count());
  }
  EXPECT_EQ(0, lifetime.count()) << "the destructor gave nothing back a second time";

  // Already gone when watched: the exit is noticed at once.
  {
    ParentProcessWatcher watcher;
    ASSERT_TRUE(watcher.Watch(parent.id()));
    EXPECT_TRUE(lifetime.WaitForZero());
  }
  EXPECT_EQ(0, lifetime.count());

  // A parent still running when the watcher goes: the destructor gives the unit back.
  ParentProcess running;
  {
    ParentProcessWatcher watcher;
    ASSERT_TRUE(watcher.Watch(running.id()));
    EXPECT_EQ(1, lifetime.count());
  }
  EXPECT_EQ(0, lifetime.count());
  ParentProcessWatcher unknown;
  EXPECT_FALSE(unknown.Watch(0xFFFFFFF0u));
  EXPECT_EQ(0, lifetime.count());

  // Work taken after the count was zero is waited for again.
  lifetime.AddRef();
  std::atomic<bool> released{false};
  test_support::ScopedTestHandle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread upload([&] {
    WaitForSingleObject(go.get(), INFINITE);
    released = true;
    lifetime.Release();
  });
  SetEvent(go.get());
  EXPECT_TRUE(lifetime.WaitForZero());
  EXPECT_TRUE(released.load());
  upload.join();
}

HANDLE g_callback_entered = nullptr;
HANDLE g_callback_may_go_on = nullptr;

void HoldExitCallback() {
  SetEvent(g_callback_entered);
  WaitForSingleObject(g_callback_may_go_on, INFINITE);
}

TEST(ReporterLifetimeTest, AWatcherRacingItsParentsExitReleasesOnce) {
  ReporterLifetime& lifetime = ReporterLifetime::Get();
  ASSERT_TRUE(lifetime.Init());
  ParentProcess parent;
  parent.End();
  // The exit callback fires on a pool thread the moment the wait is registered, racing the destructor. After
  // each destruction the watcher's memory is filled with words of 1, so a callback that still ran on it would
  // find its flag armed and give back a unit a second time.
  alignas(ParentProcessWatcher) unsigned char storage[sizeof(ParentProcessWatcher)];
  for (int i = 0; i < 1000; ++i) {
    auto* watcher = new (storage) ParentProcessWatcher();
    ASSERT_TRUE(watcher->Watch(parent.id()));
    if (i % 2)
      std::this_thread::yield();
    watcher->~ParentProcessWatcher();
    for (size_t offset = 0; offset + sizeof(int32_t) <= sizeof(storage); offset += sizeof(int32_t)) {
      const int32_t one = 1;
      memcpy(storage + offset, &one, sizeof(one));
    }
    ASSERT_EQ(0, lifetime.count()) << "round " << i;
  }

  // The destructor waits for an exit callback that is running: held inside it, the watcher is not yet gone.
  test_support::ScopedTestHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  test_support::ScopedTestHandle may_go_on(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  test_support::ScopedTestHandle destroyed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_callback_entered = entered.get();
  g_callback_may_go_on = may_go_on.get();
  ParentProcessWatcher::SetExitCallbackHookForTesting(&HoldExitCallback);
  auto* watcher = new ParentProcessWatcher();
  ASSERT_TRUE(watcher->Watch(parent.id()));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(entered.get(), 60000));
  std::thread destroying([&] {
    delete watcher;
    SetEvent(destroyed.get());
  });
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(destroyed.get(), 300))
      << "the watcher went while its exit callback ran";
  SetEvent(may_go_on.get());
  destroying.join();
  ParentProcessWatcher::SetExitCallbackHookForTesting(nullptr);
  EXPECT_EQ(0, lifetime.count());
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
