// A named thread without a message loop: a subclass supplies Run. The thread names itself prefix + "/" +
// its decimal thread id as it starts.
#ifndef BASE_THREADING_SIMPLE_THREAD_H_
#define BASE_THREADING_SIMPLE_THREAD_H_

#include <cstddef>
#include <string>

#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"

namespace base {

class SimpleThread : public PlatformThread::Delegate {
 public:
  explicit SimpleThread(const std::string& name_prefix);
  // A started thread must have been joined.
  ~SimpleThread() override;
  SimpleThread(const SimpleThread&) = delete;
  SimpleThread& operator=(const SimpleThread&) = delete;

  // Starts the thread and returns once it has named itself. False when the system could not create it;
  // the object may then be destroyed without a join.
  virtual bool Start();
  // Waits for Run to return.
  virtual void Join();

  // What the thread does.
  virtual void Run() = 0;

  const std::string& name_prefix() const { return name_prefix_; }
  // The prefix until the thread runs, then prefix + "/" + thread id.
  const std::string& name() const { return name_; }
  // 0 until the thread runs.
  PlatformThreadId tid() const { return tid_; }
  bool HasBeenStarted() const { return thread_ != nullptr || joined_; }
  bool HasBeenJoined() const { return joined_; }

  // PlatformThread::Delegate:
  void ThreadMain() override;

 private:
  const std::string name_prefix_;
  std::string name_;
  size_t stack_size_ = 0;
  ThreadPriority priority_ = ThreadPriority::NORMAL;
  PlatformThreadHandle thread_ = nullptr;
  // Signalled once the new thread has named itself.
  WaitableEvent event_{true, false};
  PlatformThreadId tid_ = 0;
  bool joined_ = false;
};

}  // namespace base

#endif  // BASE_THREADING_SIMPLE_THREAD_H_
