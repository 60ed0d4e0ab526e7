#include "base/at_exit.h"

#include <atomic>
#include <utility>

#include "base/bind.h"

namespace base {
namespace {

// The current manager. Managers are made and destroyed on the main thread, but any thread registers.
std::atomic<AtExitManager*> g_top_manager{nullptr};

}  // namespace

AtExitManager::AtExitManager() : next_manager_(g_top_manager.load(std::memory_order_acquire)) {
  g_top_manager.store(this, std::memory_order_release);
}

AtExitManager::~AtExitManager() {
  ProcessCallbacks();
  g_top_manager.store(next_manager_, std::memory_order_release);
}

// static
void AtExitManager::RegisterCallback(AtExitCallbackType func, void* param) {
  AtExitManager* manager = g_top_manager.load(std::memory_order_acquire);
  if (!manager)
    return;
  Closure callback = Bind(func, param);
  AutoLock hold(manager->lock_);
  manager->stack_.push_back(std::move(callback));
}

// static
void AtExitManager::ProcessCallbacksNow() {
  if (AtExitManager* manager = g_top_manager.load(std::memory_order_acquire))
    manager->ProcessCallbacks();
}

void AtExitManager::ProcessCallbacks() {
  // Take the whole stack and run it without the lock, so that a callback may register another one.
  std::vector<Closure> tasks;
  {
    AutoLock hold(lock_);
    tasks.swap(stack_);
  }
  while (!tasks.empty()) {
    Closure task = tasks.back();
    task.Run();
    tasks.pop_back();
  }
}

}  // namespace base
