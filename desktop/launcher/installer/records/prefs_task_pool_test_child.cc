// Runs the preference task pool in a process of its own, so that the tests see what happens at process exit.
//   write FILE                 sets "written" to true in FILE's store, commits and returns at once: the write
//                              must still reach the disk, since shutdown waits for it.
//   hold FILE POLLING RELEASE  sets the wait flag and keeps FILE's store alive on another thread until the
//                              named event RELEASE is set; each poll of the exit-time wait sets the named event
//                              POLLING.
#include <windows.h>

#include <shellapi.h>

#include <memory>
#include <string>
#include <thread>

#include "base/at_exit.h"
#include "base/message_loop/message_loop.h"
#include "base/values.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"

namespace {

HANDLE g_polling_event = nullptr;

void SignalPolling() {
  SetEvent(g_polling_event);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 3)
    return 2;
  const std::wstring mode = argv[1];
  const base::FilePath path(argv[2]);

  base::AtExitManager exit_manager;  // destroyed last: runs the pool's shutdown after the loop is gone
  base::MessageLoop loop;
  zorvi::installer::PrefsTaskPool* prefs_pool = zorvi::installer::PrefsTaskPool::GetInstance();
  base::scoped_refptr<JsonPrefStore> store = prefs_pool->CreatePrefStore(path);
  if (mode == L"write") {
    store->SetValue("written", std::make_unique<base::ScalarValue>(true), 0);
    store->CommitPendingWrite();
    return 0;
  }
  if (mode != L"hold" || argc < 5)
    return 2;
  g_polling_event = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
  HANDLE release_event = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
  if (!g_polling_event || !release_event)
    return 3;
  prefs_pool->SetWaitForUsersAtShutdown(true);
  zorvi::installer::PrefsTaskPool::SetShutdownPollObserverForTesting(&SignalPolling);
  std::thread([store = std::move(store), release_event]() mutable {
    WaitForSingleObject(release_event, INFINITE);
    store = nullptr;
  }).detach();
  return 0;
}
