// Watches a kernel object (a process, an event) without blocking the thread: a system wait thread waits
// for it, and when it is signalled the delegate is called as a task on the thread that started the watch.
// Every watch is one-shot. A watcher is used only on the thread that started its watch; a watch ends with the
// message loop it was started on.
//
//   class ChildWatch : public base::win::ObjectWatcher::Delegate {
//     void OnObjectSignaled(HANDLE process) override { ... the child has ended ... }
//   };
//   watcher_.StartWatchingOnce(process_handle, &child_watch_);
#ifndef BASE_WIN_OBJECT_WATCHER_H_
#define BASE_WIN_OBJECT_WATCHER_H_

#include <windows.h>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/message_loop/message_loop.h"
#include "base/single_thread_task_runner.h"

namespace base {
namespace win {

class ObjectWatcher : public MessageLoop::DestructionObserver {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // Called on the watching thread once `object` was signalled; the watch has ended by then, so the
    // delegate may start a new one.
    virtual void OnObjectSignaled(HANDLE object) = 0;
  };

  ObjectWatcher();
  // Stops the watch: the delegate is not called afterwards.
  ~ObjectWatcher() override;
  ObjectWatcher(const ObjectWatcher&) = delete;
  ObjectWatcher& operator=(const ObjectWatcher&) = delete;

  // Starts waiting for `object` (not owned; it must stay open while watched). False when a watch is already
  // active (it stays), when the calling thread has no message loop, or when the wait cannot be registered.
  // An object that is already signalled is still reported as a task, exactly once.
  bool StartWatchingOnce(HANDLE object, Delegate* delegate);

  // Ends the watch: a signal already on its way to the thread does not reach the delegate. Waits for the
  // system wait thread to leave the watcher. False when nothing is watched, or when the wait cannot be
  // unregistered (the watch then stays as it was).
  bool StopWatching();

  bool IsWatching() const { return object_ != nullptr; }
  // The watched object, null when idle.
  HANDLE GetWatchedObject() const { return object_; }

  // MessageLoop::DestructionObserver: the loop that started the watch is going away, and the watch stops
  // without calling the delegate.
  void WillDestroyCurrentMessageLoop() override;

 private:
  // On the system wait thread.
  static void CALLBACK DoneWaiting(void* watcher, BOOLEAN timed_out);
  // On the watching thread, while the watch is still wanted.
  void Signal(Delegate* delegate);

  // Posted when the object is signalled; bound to a weak pointer to this watcher.
  Closure callback_;
  HANDLE object_ = nullptr;
  HANDLE wait_object_ = nullptr;
  // Where the watch was started and its runner, to which the signal is posted; null when idle.
  MessageLoop* origin_loop_ = nullptr;
  scoped_refptr<SingleThreadTaskRunner> task_runner_;
  WeakPtrFactory<ObjectWatcher> weak_factory_{this};
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_OBJECT_WATCHER_H_
