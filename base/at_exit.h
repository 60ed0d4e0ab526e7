// A stack of clean-up callbacks run last-registered first when the process's manager is destroyed. The
// process's entry point makes one manager at the start and destroys it at the end; a manager made while
// another exists shadows it until it is destroyed (tests use this for a clean slate).
#ifndef BASE_AT_EXIT_H_
#define BASE_AT_EXIT_H_

#include <vector>

#include "base/callback.h"
#include "base/synchronization/lock.h"

namespace base {

class AtExitManager {
 public:
  using AtExitCallbackType = void (*)(void*);

  AtExitManager();
  // Runs this manager's callbacks, then makes the manager it shadowed current again.
  ~AtExitManager();
  AtExitManager(const AtExitManager&) = delete;
  AtExitManager& operator=(const AtExitManager&) = delete;

  // Queues func(param) on the current manager; without a manager it is dropped. Any thread.
  static void RegisterCallback(AtExitCallbackType func, void* param);

  // Runs the current manager's callbacks now, last registered first. Callbacks registered while they run
  // stay queued for a later pass.
  static void ProcessCallbacksNow();

 private:
  void ProcessCallbacks();

  Lock lock_;
  std::vector<Closure> stack_;
  AtExitManager* const next_manager_;
};

}  // namespace base

#endif  // BASE_AT_EXIT_H_
