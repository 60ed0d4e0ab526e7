// The one worker pool on which every JSON preference file of the installer is read and written (its own
// preferences, the autoupdate global storage, profile preferences): made on first use, with a single worker,
// and shut down at process exit so that pending writes reach the disk first.
#ifndef DESKTOP_LAUNCHER_INSTALLER_RECORDS_PREFS_TASK_POOL_H_
#define DESKTOP_LAUNCHER_INSTALLER_RECORDS_PREFS_TASK_POOL_H_

#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "components/prefs/json_pref_store.h"

namespace base {
class SequencedWorkerPool;
}

namespace zorvi::installer {

class PrefsTaskPool {
 public:
  PrefsTaskPool(const PrefsTaskPool&) = delete;
  PrefsTaskPool& operator=(const PrefsTaskPool&) = delete;

  // The process's instance, made by the first caller (concurrent first callers get the same one), which needs a
  // task runner on its thread. The first call registers Shutdown with the at-exit manager.
  static PrefsTaskPool* GetInstance();

  // Shuts the pool down: tasks already posted that block shutdown (every file write) run first. With the wait
  // flag set it then waits, polling every 100 ms, until no store or task runner holds the pool any more. A
  // later GetInstance makes a new instance.
  static void Shutdown();

  // A store for the file, read synchronously before it is returned, whose file work runs on the pool in the
  // file's own sequence. The caller's thread needs a task runner (the store's write timer runs there).
  base::scoped_refptr<JsonPrefStore> CreatePrefStore(const base::FilePath& path);

  // Lets `store` (one of this pool's) write what it holds and waits until its file's sequence has done so: the
  // store writes later otherwise, on the pool, which a caller whose file must be complete before what comes next
  // (a step before the next one, a package before the installation reads it) cannot have.
  void WriteNow(JsonPrefStore* store);

  // Whether Shutdown waits for the stores to let go of the pool; false until the installer's entry sets it.
  void SetWaitForUsersAtShutdown(bool wait) { wait_for_users_at_shutdown_ = wait; }

  base::SequencedWorkerPool* pool() const { return pool_.get(); }

  // Called before every 100 ms wait of Shutdown, so that a test can tell that the process is held up there.
  static void SetShutdownPollObserverForTesting(void (*observer)());

 private:
  PrefsTaskPool();
  ~PrefsTaskPool();

  bool wait_for_users_at_shutdown_ = false;
  base::scoped_refptr<base::SequencedWorkerPool> pool_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_RECORDS_PREFS_TASK_POOL_H_
