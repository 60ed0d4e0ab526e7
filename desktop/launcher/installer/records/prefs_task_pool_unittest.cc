#include "desktop/launcher/installer/records/prefs_task_pool.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/at_exit.h"
#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/message_loop/message_loop.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/values.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

void RecordThreadName(std::string* name, base::WaitableEvent* done) {
  *name = base::PlatformThread::GetName();
  done->Signal();
}

TEST(PrefsTaskPoolTest, RacingFirstCallersShareOneInstanceAndOnePool) {
  constexpr size_t kThreads = 16;
  std::vector<PrefsTaskPool*> instances(kThreads);
  std::vector<base::SequencedWorkerPool*> pools(kThreads);
  {
    base::AtExitManager exit_manager;  // its end shuts the pool down
    base::WaitableEvent go(true, false);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        base::MessageLoop loop;  // the pool is made by whichever thread wins
        go.Wait();
        instances[i] = PrefsTaskPool::GetInstance();
        pools[i] = instances[i]->pool();
      });
    }
    go.Signal();
    for (std::thread& thread : threads)
      thread.join();
    EXPECT_EQ(1u, std::set<PrefsTaskPool*>(instances.begin(), instances.end()).size());
    EXPECT_EQ(1u, std::set<base::SequencedWorkerPool*>(pools.begin(), pools.end()).size());
    EXPECT_NE(nullptr, pools[0]);
  }
  // After the shutdown at exit the next caller gets a new, working pool.
  base::AtExitManager exit_manager;
  base::MessageLoop loop;
  base::WaitableEvent ran(true, false);
  std::string thread_name;
  ASSERT_TRUE(PrefsTaskPool::GetInstance()->pool()->PostTask(
      FROM_HERE,
      base::Bind(&RecordThreadName, &thread_name, &ran)));
  ran.Wait();
  EXPECT_EQ(0u, thread_name.rfind("PrefsTaskPoolWorker", 0)) << thread_name;
}

// Stores are read before they are returned; a missing folder leaves the store uninitialised, a missing file in
// an existing folder gives an empty one. The file's own sequence runs on the pool's worker.
TEST(PrefsTaskPoolTest, StoresAreReadAtOnceAndServedByThePoolsWorker) {
  base::AtExitManager exit_manager;
  base::MessageLoop loop;
  test_support::ScopedTestFolder scoped_folder(L"prefs_pool");
  const base::FilePath folder(scoped_folder.path());
  const base::FilePath existing = folder.Append(L"installer_prefs.json");
  const std::string json = "{\"installer\":{\"answer\":42}}";
  ASSERT_EQ(static_cast<int>(json.size()), base::WriteFile(existing, json.data(), static_cast<int>(json.size())));
  struct Case {
    base::FilePath path;
    bool initialized;
    PersistentPrefStore::PrefReadError error;
    int answer;  // -1: no value
  } const cases[] = {
      {existing, true, PersistentPrefStore::kPrefReadErrorNone, 42},
      {folder.Append(L"absent.json"), true, PersistentPrefStore::kPrefReadErrorNoFile, -1},
      {folder.Append(L"no folder").Append(L"absent.json"), false, PersistentPrefStore::kPrefReadErrorNoFile,
       -1},
  };
  PrefsTaskPool* prefs_pool = PrefsTaskPool::GetInstance();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.AsUTF8());
    base::scoped_refptr<JsonPrefStore> store = prefs_pool->CreatePrefStore(c.path);
    EXPECT_EQ(c.initialized, store->IsInitializationComplete());
    EXPECT_EQ(c.error, store->GetReadError());
    const base::Value* value = nullptr;
    int answer = -1;
    if (store->GetValue("installer.answer", &value))
      value->GetAsInteger(&answer);
    EXPECT_EQ(c.answer, answer);

    base::WaitableEvent ran(true, false);
    std::string thread_name;
    ASSERT_TRUE(JsonPrefStore::GetTaskRunnerForFile(c.path, prefs_pool->pool())
                    ->PostTask(FROM_HERE,
                               base::Bind(&RecordThreadName, &thread_name, &ran)));
    ran.Wait();
    EXPECT_EQ(0u, thread_name.rfind("PrefsTaskPoolWorker", 0)) << thread_name;
  }
}

std::wstring ChildCommand(const std::wstring& arguments) {
  return L"\"" + test::TestProgram(L"prefs_task_pool_test_child.exe").value() + L"\" " + arguments;
}

// A write committed just before the process returns still reaches the disk: the exit waits for it.
// testdata_check.sh reads the file back with Python's json.
TEST(PrefsTaskPoolTest, ExitWaitsForCommittedWrites) {
  const base::FilePath folder = test::TestDataFile(L"prefs_task_pool");
  ASSERT_TRUE(base::CreateDirectory(folder));
  const base::FilePath file = folder.Append(L"written.json");
  base::DeleteFile(file, false);
  DWORD exit_code = 1;
  ASSERT_TRUE(test_support::RunProcess(ChildCommand(L"write \"" + file.value() + L"\""), &exit_code));
  EXPECT_EQ(0u, exit_code);
  std::string written;
  EXPECT_TRUE(base::ReadFileToString(file, &written));
  EXPECT_NE(std::string::npos, written.find("written"));
}

// With the wait flag the exit is held while another thread still holds a store; letting go of it ends the
// process normally.
TEST(PrefsTaskPoolTest, ExitWaitsWhileAStoreIsHeld) {
  test_support::ScopedTestFolder folder(L"prefs_hold");
  const std::wstring polling_name = test_support::UniqueName(L"prefs_polling");
  const std::wstring release_name = test_support::UniqueName(L"prefs_release");
  test_support::ScopedTestHandle polling(CreateEventW(nullptr, TRUE, FALSE, polling_name.c_str()));
  test_support::ScopedTestHandle release(CreateEventW(nullptr, TRUE, FALSE, release_name.c_str()));
  ASSERT_TRUE(polling.valid() && release.valid());

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  std::wstring command = ChildCommand(L"hold \"" + folder.path() + L"\\held.json\" " +
                                      polling_name + L" " + release_name);
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  test_support::ScopedTestHandle process(info.hProcess), thread(info.hThread);

  // The child polls: it reached its exit and waits there. It must not end before it is released.
  HANDLE polling_or_exit[] = {polling.get(), process.get()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, polling_or_exit, FALSE, INFINITE))
      << "the child ended without waiting for its store";
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process.get(), 0));
  ASSERT_TRUE(SetEvent(release.get()));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), INFINITE));
  DWORD exit_code = 1;
  ASSERT_TRUE(GetExitCodeProcess(process.get(), &exit_code));
  EXPECT_EQ(0u, exit_code);
}

}  // namespace
}  // namespace zorvi::installer
