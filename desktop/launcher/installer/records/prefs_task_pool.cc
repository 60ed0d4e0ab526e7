#include "desktop/launcher/installer/records/prefs_task_pool.h"

#include <atomic>

#include "base/bind.h"
#include "base/lazy_instance.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/time/time.h"

namespace zorvi::installer {

namespace {

constexpr char kThreadNamePrefix[] = "PrefsTaskPool";
constexpr int kShutdownPollMilliseconds = 100;

constinit base::internal::LazyInstanceState g_instance{0};
std::atomic<void (*)()> g_shutdown_poll_observer{nullptr};

void ShutdownAtExit(void*) {
  PrefsTaskPool::Shutdown();
}

}  // namespace

PrefsTaskPool::PrefsTaskPool() : pool_(new base::SequencedWorkerPool(1, kThreadNamePrefix)) {}

PrefsTaskPool::~PrefsTaskPool() = default;

// static
PrefsTaskPool* PrefsTaskPool::GetInstance() {
  return base::internal::GetOrCreateLazyInstance<PrefsTaskPool>(
      &g_instance, [] { return new PrefsTaskPool(); }, &ShutdownAtExit, nullptr);
}

// static
void PrefsTaskPool::Shutdown() {
  if (g_instance.load(std::memory_order_acquire) <= base::internal::kLazyInstanceStateCreating)
    return;
  base::internal::DestroyLazyInstance<PrefsTaskPool>(&g_instance, [](PrefsTaskPool* instance) {
    instance->pool_->Shutdown(0);
    if (instance->wait_for_users_at_shutdown_) {
      while (!instance->pool_->HasOneRef()) {
        if (void (*observer)() = g_shutdown_poll_observer.load(std::memory_order_acquire))
          observer();
        base::PlatformThread::Sleep(base::TimeDelta::FromMilliseconds(kShutdownPollMilliseconds));
      }
    }
    delete instance;
  });
}

base::scoped_refptr<JsonPrefStore> PrefsTaskPool::CreatePrefStore(const base::FilePath& path) {
  base::scoped_refptr<JsonPrefStore> store(
      new JsonPrefStore(path, JsonPrefStore::GetTaskRunnerForFile(path, pool_.get())));
  store->ReadPrefs();
  return store;
}

void PrefsTaskPool::WriteNow(JsonPrefStore* store) {
  store->CommitPendingWrite();
  base::WaitableEvent written(true, false);
  if (JsonPrefStore::GetTaskRunnerForFile(store->path(), pool_.get())
          ->PostTask(base::Location("PrefsTaskPool::WriteNow", __FILE__, __LINE__, nullptr),
                     base::Bind(&base::WaitableEvent::Signal, base::Unretained(&written)))) {
    written.Wait();
  }
}

// static
void PrefsTaskPool::SetShutdownPollObserverForTesting(void (*observer)()) {
  g_shutdown_poll_observer.store(observer, std::memory_order_release);
}

}  // namespace zorvi::installer
