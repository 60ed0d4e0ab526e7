#include "base/win/object_watcher.h"

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"

namespace base {
namespace win {

ObjectWatcher::ObjectWatcher() = default;

ObjectWatcher::~ObjectWatcher() {
  StopWatching();
}

bool ObjectWatcher::StartWatchingOnce(HANDLE object, Delegate* delegate) {
  CHECK(delegate);
  if (wait_object_) {
    LOG(ERROR) << "Already watching an object";
    return false;
  }
  MessageLoop* const loop = MessageLoop::current();
  if (!loop) {
    LOG(ERROR) << "No message loop on this thread to deliver the signal to";
    return false;
  }
  task_runner_ = loop->task_runner();

  callback_ = Bind(&ObjectWatcher::Signal, weak_factory_.GetWeakPtr(), delegate);
  object_ = object;

  // The wait thread only posts the callback, so it may run the routine itself.
  if (!RegisterWaitForSingleObject(&wait_object_, object, &ObjectWatcher::DoneWaiting, this, INFINITE,
                                   WT_EXECUTEINWAITTHREAD | WT_EXECUTEONLYONCE)) {
    PLOG(ERROR) << "RegisterWaitForSingleObject failed";
    object_ = nullptr;
    wait_object_ = nullptr;
    callback_.Reset();
    task_runner_ = nullptr;
    return false;
  }
  origin_loop_ = loop;
  origin_loop_->AddDestructionObserver(this);
  return true;
}

bool ObjectWatcher::StopWatching() {
  if (!wait_object_)
    return false;

  // INVALID_HANDLE_VALUE: returns only once a DoneWaiting already running has finished with this watcher.
  if (!UnregisterWaitEx(wait_object_, INVALID_HANDLE_VALUE)) {
    PLOG(ERROR) << "UnregisterWaitEx failed";
    return false;
  }

  weak_factory_.InvalidateWeakPtrs();
  object_ = nullptr;
  wait_object_ = nullptr;
  task_runner_ = nullptr;
  origin_loop_->RemoveDestructionObserver(this);
  origin_loop_ = nullptr;
  return true;
}

void ObjectWatcher::WillDestroyCurrentMessageLoop() {
  StopWatching();
}

// static
void CALLBACK ObjectWatcher::DoneWaiting(void* watcher_pointer, BOOLEAN timed_out) {
  DCHECK(!timed_out);
  auto* watcher = static_cast<ObjectWatcher*>(watcher_pointer);
  // The posted copy keeps the bound state alive; the watch being one-shot, the watcher's copy goes now.
  watcher->task_runner_->PostTask(Location("base::win::ObjectWatcher::DoneWaiting", __FILE__, __LINE__,
                                           GetProgramCounter()),
                                  watcher->callback_);
  watcher->callback_.Reset();
}

void ObjectWatcher::Signal(Delegate* delegate) {
  HANDLE object = object_;
  // One-shot: the watch ends before the delegate hears of it, so that it may start another.
  StopWatching();
  delegate->OnObjectSignaled(object);
}

}  // namespace win
}  // namespace base
