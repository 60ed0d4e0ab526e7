// A named thread that owns a message loop and is driven by posting tasks to its runner.
//
//   base::Thread thread("Installer IPC thread");
//   base::Thread::Options options;
//   options.message_loop_type = base::MessageLoop::TYPE_IO;
//   thread.StartWithOptions(options);
//   thread.task_runner()->PostTask(FROM_HERE, base::Bind(&Listen));
//   ...
//   thread.Stop();  // runs what is already queued, then ends the thread
//
// Start, Stop and the accessors are for the owning thread; task_runner() may be used from any thread while
// the owner keeps the Thread alive.
#ifndef BASE_THREADING_THREAD_H_
#define BASE_THREADING_THREAD_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/memory/ref_counted.h"
#include "base/message_loop/message_loop.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"

namespace base {

class Thread : public PlatformThread::Delegate {
 public:
  // The COM apartment the thread enters before Init.
  enum class ComStatus : int32_t {
    NONE = 0,
    STA = 1,  // single-threaded apartment
    MTA = 2,  // multi-threaded apartment
  };

  struct Options {
    Options() = default;
    Options(MessageLoop::Type type, size_t size) : message_loop_type(type), stack_size(size) {}

    MessageLoop::Type message_loop_type = MessageLoop::TYPE_DEFAULT;
    // Kept for the pump, which does not use it.
    int32_t timer_slack = 0;
    // When set, the loop is a custom one with the pump this makes, whatever the type above says.
    MessageLoop::MessagePumpFactory message_pump_factory;
    // 0: the system default.
    size_t stack_size = 0;
    ThreadPriority priority = ThreadPriority::NORMAL;
  };

  explicit Thread(const std::string& name);
  // Stops the thread.
  ~Thread() override;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The apartment for the next start. A thread in a single-threaded apartment that is started with Start
  // gets a UI loop, which pumps the window messages such an apartment needs.
  void SetComStatus(ComStatus com_status);

  // Default options (a UI loop in a single-threaded apartment). False when the thread cannot be created.
  bool Start();
  // Tasks may be posted as soon as this returns; they run once the thread's Init has returned.
  bool StartWithOptions(const Options& options);

  // Lets the loop run every task that is ready, then ends the thread and waits for it. Nothing happens for
  // a thread that is not running. The thread may be started again afterwards. Calling it on the thread
  // itself is fatal (it would wait for itself forever).
  void Stop();
  // Asks the loop to quit once idle, without waiting.
  void StopSoon();

  // The loop's runner; null while the thread has no loop (before Start, after its end).
  scoped_refptr<SingleThreadTaskRunner> task_runner() const;
  // The thread's loop, for its own thread; null while it has none.
  MessageLoop* message_loop() const { return message_loop_.load(std::memory_order_acquire); }

  const std::string& thread_name() const { return name_; }
  // Waits until the started thread has told its id.
  PlatformThreadId GetThreadId() const;
  // Between the end of Init and the end of Run.
  bool IsRunning() const;

 protected:
  // Called on the thread, in this order, around its run.
  virtual void Init() {}
  // Runs the loop until it is quit.
  virtual void Run(MessageLoop* message_loop);
  virtual void CleanUp() {}

  // On the thread itself: whether its loop was ended by Stop or StopSoon (rather than by a quit of its own).
  static bool GetThreadWasQuitProperly();
  static void SetThreadWasQuitProperly(bool flag);

 private:
  // PlatformThread::Delegate:
  void ThreadMain() override;

  ComStatus com_status_ = ComStatus::NONE;
  bool stopping_ = false;
  bool running_ = false;
  mutable Lock running_lock_;
  PlatformThreadHandle thread_ = nullptr;
  Lock thread_lock_;
  std::atomic<PlatformThreadId> id_{0};
  mutable WaitableEvent id_event_{true, false};
  // Set from the start until the thread's end; the thread destroys the loop.
  std::atomic<MessageLoop*> message_loop_{nullptr};
  // The loop's runner, kept so that posting never reaches into a loop that its thread is destroying.
  scoped_refptr<SingleThreadTaskRunner> task_runner_;
  int32_t message_loop_timer_slack_ = 0;
  const std::string name_;
  WaitableEvent start_event_{true, false};
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_H_
