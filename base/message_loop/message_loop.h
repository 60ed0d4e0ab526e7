// The task loop of a thread. Every thread that receives posted work owns exactly one: tasks arrive from any
// thread through the loop's task runner, and the loop runs them on its own thread in posting order, delayed
// ones when they are due, while its message pump decides how the thread sleeps and wakes:
//   TYPE_DEFAULT  an event (a thread that only runs tasks)
//   TYPE_UI       the thread's Windows message queue, through a message-only window
//   TYPE_CUSTOM   a pump made by a caller-supplied factory
//   TYPE_IO       an I/O completion port whose completions go to registered handlers
//
//   base::MessageLoop loop(base::MessageLoop::TYPE_DEFAULT);
//   loop.task_runner()->PostTask(FROM_HERE, base::Bind(&Work));
//   base::RunLoop run_loop;
//   ... run_loop.QuitClosure() handed to whoever ends the run ...
//   run_loop.Run();
//
// A loop is bound to, run on and destroyed on one thread. A task that runs a nested run loop gets no tasks
// run inside it: tasks only run while no other task is running (Windows messages and IO completions still
// flow), so a nested run that must run tasks is started from a window message or an IO completion. Tasks
// posted as non-nestable never run inside a nested run; they wait for the outermost one.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "base/callback.h"
#include "base/debug/task_annotator.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/message_loop/incoming_task_queue.h"
#include "base/message_loop/message_loop_task_runner.h"
#include "base/message_loop/message_pump.h"
#include "base/message_loop/message_pump_for_io.h"
#include "base/observer_list.h"
#include "base/pending_task.h"
#include "base/single_thread_task_runner.h"
#include "base/time/time.h"

namespace base {

class MessagePumpForUI;
class RunLoop;
class ThreadTaskRunnerHandle;

class MessageLoop : public MessagePump::Delegate, private IncomingTaskQueue::Loop {
 public:
  enum Type : int32_t {
    TYPE_DEFAULT = 0,
    TYPE_UI = 1,
    TYPE_CUSTOM = 2,
    TYPE_IO = 3,
  };

  using MessagePumpFactory = Callback<std::unique_ptr<MessagePump>()>;

  // Told once, on the loop's thread, as the loop dies; the loop no longer runs tasks then.
  class DestructionObserver {
   public:
    virtual void WillDestroyCurrentMessageLoop() = 0;

   protected:
    virtual ~DestructionObserver() = default;
  };

  // A loop of `type` bound to the calling thread at once.
  explicit MessageLoop(Type type = TYPE_DEFAULT);
  // Stops accepting posts (a post from now on returns false), destroys every task still queued without running
  // it, and tells the destruction observers.
  ~MessageLoop() override;
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // A loop for a thread that binds it later (BindToCurrentThread on that thread). Posts are accepted and
  // queued until then. The pump comes from `pump_factory` when it is not null, else from the type.
  static std::unique_ptr<MessageLoop> CreateUnbound(Type type, MessagePumpFactory pump_factory);

  // Makes the pump, makes this the calling thread's loop and task runner, and wakes the pump when tasks
  // are already waiting.
  void BindToCurrentThread();

  // The calling thread's loop; null when it has none.
  static MessageLoop* current();

  // Same as posting to task_runner().
  void PostTask(const Location& from_here, Closure task);
  void PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay);

  // Deletes `object` in a non-nestable task of this loop.
  template <typename T>
  void DeleteSoon(const Location& from_here, const T* object) {
    DeleteSoonInternal(from_here, &DeleteObject<T>, object);
  }
  void DeleteSoonInternal(const Location& from_here, void (*deleter)(const void*), const void* object);

  // Runs a RunLoop of this loop until it is quit.
  void Run();
  // Quits the innermost run once every ready task (immediate, due delayed, deferred) has run. Nothing
  // happens while the loop is not running.
  void QuitWhenIdle();
  // Quits the innermost run as soon as the current task returns. Nothing happens while the loop is not
  // running.
  void QuitNow();

  // Adding an observer twice registers it once. Removing one while observers are told is safe.
  void AddDestructionObserver(DestructionObserver* observer);
  void RemoveDestructionObserver(DestructionObserver* observer);

  Type type() const { return type_; }
  bool IsType(Type type) const { return type_ == type; }

  // The runner that posts to this loop; all posting goes through it.
  const scoped_refptr<SingleThreadTaskRunner>& task_runner() const { return task_runner_; }

  void set_thread_name(const std::string& thread_name) { thread_name_ = thread_name; }
  const std::string& thread_name() const { return thread_name_; }

  // Whether the loop is inside a run (on its own thread).
  bool is_running() const { return run_loop_ != nullptr; }

  // The loop's pump; null before the loop is bound.
  MessagePump* pump() const { return pump_.get(); }
  // The pump when it is the UI pump this loop made for its type; null otherwise.
  MessagePumpForUI* ui_pump() const { return ui_pump_; }

  // MessagePump::Delegate:
  bool DoWork() override;
  bool DoDelayedWork(TimeTicks* next_delayed_work_time) override;
  bool DoIdleWork() override;

 protected:
  MessageLoop(Type type, MessagePumpFactory pump_factory);

  // The pump when it is the IO pump this loop made for its type; null otherwise.
  MessagePumpForIO* io_pump_ = nullptr;

 private:
  friend class RunLoop;

  template <typename T>
  static void DeleteObject(const void* object) {
    delete static_cast<const T*>(object);
  }

  // IncomingTaskQueue::Loop, called by posting threads with the queue's lock held.
  void ScheduleWork() override;
  debug::TaskAnnotator* task_annotator() override { return &task_annotator_; }

  // Moves the incoming tasks into `work_queue_` when it is empty.
  void ReloadWorkQueue();
  // Runs `pending_task` when it may run at the current depth; else defers it. True when it ran.
  bool DeferOrRunPendingTask(PendingTask pending_task);
  void RunTask(const PendingTask& pending_task);
  void AddToDelayedWorkQueue(PendingTask pending_task);
  // Destroys the queued tasks without running them; true when there were any.
  bool DeletePendingTasks();

  std::unique_ptr<MessagePump> pump_;
  MessagePumpForUI* ui_pump_ = nullptr;
  const Type type_;
  // Touched only on the loop's thread.
  TaskQueue work_queue_;
  int32_t pending_high_res_tasks_ = 0;
  bool in_high_res_mode_ = false;
  DelayedTaskQueue delayed_work_queue_;
  TimeTicks recent_time_;
  TaskQueue deferred_non_nestable_work_queue_;
  ObserverList<DestructionObserver> destruction_observers_{ObserverList<DestructionObserver>::NOTIFY_ALL};
  // False while a task runs: tasks do not run inside tasks.
  bool nestable_tasks_allowed_ = true;
  MessagePumpFactory pump_factory_;
  std::string thread_name_;
  // The innermost running RunLoop; null when the loop is not running.
  RunLoop* run_loop_ = nullptr;
  debug::TaskAnnotator task_annotator_;
  scoped_refptr<IncomingTaskQueue> incoming_task_queue_;
  // The runner until the loop is bound.
  scoped_refptr<MessageLoopTaskRunner> unbound_task_runner_;
  scoped_refptr<SingleThreadTaskRunner> task_runner_;
  std::unique_ptr<ThreadTaskRunnerHandle> thread_task_runner_handle_;
};

// An IO loop with its IO functions. IO loops are made as this class (MessageLoop::CreateUnbound does so for
// TYPE_IO), so that current() can find them.
class MessageLoopForIO : public MessageLoop {
 public:
  using IOHandler = MessagePumpForIO::IOHandler;
  using IOContext = MessagePumpForIO::IOContext;
  using IOObserver = MessagePumpForIO::IOObserver;

  MessageLoopForIO() : MessageLoop(TYPE_IO) {}

  // The current thread's loop, which must be an IO loop made as this class.
  static MessageLoopForIO* current();

  // False when the handle could not join the loop's completion port (see MessagePumpForIO).
  bool RegisterIOHandler(HANDLE file_handle, IOHandler* handler);
  bool WaitForIOCompletion(DWORD timeout_ms, IOHandler* filter);
  void AddIOObserver(IOObserver* observer);
  void RemoveIOObserver(IOObserver* observer);

 private:
  friend class MessageLoop;

  // Unbound, for CreateUnbound.
  explicit MessageLoopForIO(MessagePumpFactory pump_factory) : MessageLoop(TYPE_IO, std::move(pump_factory)) {}

  MessagePumpForIO* io_pump() const;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
