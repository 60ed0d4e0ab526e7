// The process-wide record of thread names, for tracing and the heap profiler. Threads made by
// PlatformThread register their handle and id while they run; a name set by any other thread is taken as
// the main thread's. Every distinct name is kept once, never freed, so the returned pointers stay valid for
// the life of the process.
#ifndef BASE_THREADING_THREAD_NAME_REGISTRY_H_
#define BASE_THREADING_THREAD_NAME_REGISTRY_H_

#include <map>
#include <string>

#include "base/synchronization/lock.h"
#include "base/threading/platform_thread.h"

namespace base {

class ThreadNameRegistry {
 public:
  // Made on first use and never destroyed.
  static ThreadNameRegistry* GetInstance();

  ThreadNameRegistry(const ThreadNameRegistry&) = delete;
  ThreadNameRegistry& operator=(const ThreadNameRegistry&) = delete;

  // A thread that starts running: named "" until it sets a name.
  void RegisterThread(PlatformThreadHandle handle, PlatformThreadId id);
  // Names the registered thread `id`; an unregistered id becomes the main thread's id with this name.
  void SetName(PlatformThreadId id, const std::string& name);
  // "" for a thread that is not known.
  const char* GetName(PlatformThreadId id);
  // A registered thread that ends. The id keeps another handle's entry if it was registered again since.
  void RemoveName(PlatformThreadHandle handle, PlatformThreadId id);

 private:
  ThreadNameRegistry();
  friend struct ThreadNameRegistryTraits;

  // Lock held.
  std::string* InternName(const std::string& name);

  Lock lock_;
  std::map<std::string, std::string*> name_to_interned_name_;
  std::map<PlatformThreadId, PlatformThreadHandle> thread_id_to_handle_;
  std::map<PlatformThreadHandle, std::string*> thread_handle_to_interned_name_;
  std::string* main_process_name_ = nullptr;
  PlatformThreadId main_process_id_ = 0;
  // The interned "".
  std::string* default_name_ = nullptr;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_NAME_REGISTRY_H_
