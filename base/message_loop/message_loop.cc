#include "base/message_loop/message_loop.h"

#include <utility>

#include "base/bind.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/message_loop/message_pump_default.h"
#include "base/message_loop/message_pump_for_ui.h"
#include "base/run_loop.h"
#include "base/threading/task_run_scope.h"
#include "base/threading/thread_local.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/threading/tracing_threading_hooks.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace {

constinit LazyInstance<ThreadLocalPointer<MessageLoop>>::Leaky g_current_loop;

// Tasks whose closures post again as they are destroyed keep the queues filling; the loop gives up after
// this many passes rather than spin forever.
constexpr int kMaxDeletePendingTasksPasses = 100;

}  // namespace

MessageLoop::MessageLoop(Type type) : MessageLoop(type, MessagePumpFactory()) {
  BindToCurrentThread();
}

MessageLoop::MessageLoop(Type type, MessagePumpFactory pump_factory)
    : type_(type),
      pump_factory_(std::move(pump_factory)),
      incoming_task_queue_(new IncomingTaskQueue(this)),
      unbound_task_runner_(new MessageLoopTaskRunner(incoming_task_queue_)),
      task_runner_(unbound_task_runner_) {}

MessageLoop::~MessageLoop() {
  DCHECK(!pump_ || current() == this) << "a message loop is destroyed on the thread it is bound to";
  DCHECK(!run_loop_) << "a message loop is destroyed while it runs";

  // A task posted from now on could never run: its poster learns so, and its closure dies on a thread that may
  // destroy it, the poster's, or this one for a closure that a task destroyed here posts.
  incoming_task_queue_->StartShutdown();

  if (in_high_res_mode_)
    Time::ActivateHighResolutionTimer(false);

  // Destroying a task may post more tasks (refused, but destroyed by the next pass); repeat until a pass finds
  // nothing.
  bool did_work = false;
  for (int i = 0; i < kMaxDeletePendingTasksPasses; ++i) {
    DeletePendingTasks();
    ReloadWorkQueue();
    did_work = DeletePendingTasks();
    if (!did_work)
      break;
  }
  incoming_task_queue_->WillDestroyCurrentMessageLoop();
  if (did_work) {
    LOG(ERROR) << "tasks were still being posted to a message loop as it was destroyed";
    // Destroying what the last pass posted would post again, now refused and destroyed inside that post, without
    // end; left in the queue, it would die on whichever thread lets go of the queue last. It is kept alive.
    ReloadWorkQueue();
    TaskQueue* const kept = new TaskQueue;
    kept->swap(work_queue_);
  }

  destruction_observers_.ForEach(
      [](DestructionObserver* observer) { observer->WillDestroyCurrentMessageLoop(); });

  thread_task_runner_handle_.reset();

  incoming_task_queue_ = nullptr;
  unbound_task_runner_ = nullptr;
  task_runner_ = nullptr;

  if (current() == this)
    g_current_loop.Get().Set(nullptr);
}

// static
std::unique_ptr<MessageLoop> MessageLoop::CreateUnbound(Type type, MessagePumpFactory pump_factory) {
  if (type == TYPE_IO)
    return std::unique_ptr<MessageLoop>(new MessageLoopForIO(std::move(pump_factory)));
  return std::unique_ptr<MessageLoop>(new MessageLoop(type, std::move(pump_factory)));
}

void MessageLoop::BindToCurrentThread() {
  DCHECK(!pump_) << "a message loop is bound once";
  if (!pump_factory_.is_null()) {
    pump_ = pump_factory_.Run();
  } else if (type_ == TYPE_UI) {
    auto ui_pump = std::make_unique<MessagePumpForUI>();
    ui_pump_ = ui_pump.get();
    pump_ = std::move(ui_pump);
  } else if (type_ == TYPE_IO) {
    auto io_pump = std::make_unique<MessagePumpForIO>();
    io_pump_ = io_pump.get();
    pump_ = std::move(io_pump);
  } else {
    pump_ = std::make_unique<MessagePumpDefault>();
  }
  CHECK(pump_) << "the message pump factory made no pump";

  CHECK(!current()) << "a thread has at most one message loop";
  // Before the loop runs anything it might trace: tracing learns of loops and thread names through these.
  internal::InstallTracingThreadingHooks();
  g_current_loop.Get().Set(this);

  incoming_task_queue_->StartScheduling();
  unbound_task_runner_->BindToCurrentThread();
  unbound_task_runner_ = nullptr;
  thread_task_runner_handle_.reset();
  thread_task_runner_handle_ = std::make_unique<ThreadTaskRunnerHandle>(task_runner_);
}

// static
MessageLoop* MessageLoop::current() {
  return g_current_loop.Get().Get();
}

void MessageLoop::PostTask(const Location& from_here, Closure task) {
  task_runner_->PostTask(from_here, std::move(task));
}

void MessageLoop::PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) {
  task_runner_->PostDelayedTask(from_here, std::move(task), delay);
}

void MessageLoop::DeleteSoonInternal(const Location& from_here, void (*deleter)(const void*),
                                     const void* object) {
  task_runner_->PostNonNestableTask(from_here, Bind(deleter, object));
}

void MessageLoop::Run() {
  RunLoop run_loop;
  run_loop.Run();
}

void MessageLoop::QuitWhenIdle() {
  if (run_loop_)
    run_loop_->quit_when_idle_received_ = true;
}

void MessageLoop::QuitNow() {
  if (run_loop_)
    pump_->Quit();
}

void MessageLoop::AddDestructionObserver(DestructionObserver* observer) {
  destruction_observers_.AddObserver(observer);
}

void MessageLoop::RemoveDestructionObserver(DestructionObserver* observer) {
  destruction_observers_.RemoveObserver(observer);
}

bool MessageLoop::DoWork() {
  if (!nestable_tasks_allowed_)
    return false;  // a task is running: tasks do not run inside tasks

  for (;;) {
    ReloadWorkQueue();
    if (work_queue_.empty())
      return false;

    do {
      PendingTask pending_task = std::move(work_queue_.front());
      work_queue_.pop();
      if (!pending_task.delayed_run_time.is_null()) {
        // Kept to recognise the task on top of the heap (another task may share its closure).
        const Closure task = pending_task.task;
        AddToDelayedWorkQueue(std::move(pending_task));
        // A new soonest task: the pump must wake for it.
        if (delayed_work_queue_.top().task.Equals(task))
          pump_->ScheduleDelayedWork(delayed_work_queue_.top().delayed_run_time);
      } else if (DeferOrRunPendingTask(std::move(pending_task))) {
        return true;
      }
    } while (!work_queue_.empty());
  }
}

bool MessageLoop::DoDelayedWork(TimeTicks* next_delayed_work_time) {
  if (!nestable_tasks_allowed_ || delayed_work_queue_.empty()) {
    recent_time_ = *next_delayed_work_time = TimeTicks();
    return false;
  }

  // While the loop is behind, several due tasks are run on one reading of the clock.
  const TimeTicks next_run_time = delayed_work_queue_.top().delayed_run_time;
  if (next_run_time > recent_time_) {
    recent_time_ = TimeTicks::Now();
    if (next_run_time > recent_time_) {
      *next_delayed_work_time = next_run_time;
      return false;
    }
  }

  // Moving out of the top leaves the fields the heap orders by intact, so the pop below stays correct.
  PendingTask pending_task = std::move(const_cast<PendingTask&>(delayed_work_queue_.top()));
  delayed_work_queue_.pop();
  if (!delayed_work_queue_.empty())
    *next_delayed_work_time = delayed_work_queue_.top().delayed_run_time;

  return DeferOrRunPendingTask(std::move(pending_task));
}

bool MessageLoop::DoIdleWork() {
  DCHECK(run_loop_);
  if (run_loop_->run_depth_ == 1 && !deferred_non_nestable_work_queue_.empty()) {
    PendingTask pending_task = std::move(deferred_non_nestable_work_queue_.front());
    deferred_non_nestable_work_queue_.pop();
    RunTask(pending_task);
    return true;
  }

  if (run_loop_->quit_when_idle_received_)
    pump_->Quit();

  // Short delays are only kept with the system's high-resolution timer; hold it only while such tasks wait.
  const bool high_res = pending_high_res_tasks_ > 0;
  if (high_res != in_high_res_mode_) {
    in_high_res_mode_ = high_res;
    Time::ActivateHighResolutionTimer(high_res);
  }
  return false;
}

void MessageLoop::ScheduleWork() {
  pump_->ScheduleWork();
}

void MessageLoop::ReloadWorkQueue() {
  // Taking the whole incoming queue at once keeps the lock off the path of every single task.
  if (work_queue_.empty()) {
    pending_high_res_tasks_ += incoming_task_queue_->ReloadWorkQueue(&work_queue_);
    DCHECK_GE(pending_high_res_tasks_, 0);
  }
}

bool MessageLoop::DeferOrRunPendingTask(PendingTask pending_task) {
  DCHECK(run_loop_);
  if (pending_task.nestable || run_loop_->run_depth_ == 1) {
    RunTask(pending_task);
    return true;
  }
  // Non-nestable tasks wait for the outermost run's idle phase.
  deferred_non_nestable_work_queue_.push(std::move(pending_task));
  return false;
}

void MessageLoop::RunTask(const PendingTask& pending_task) {
  if (pending_task.is_high_res) {
    --pending_high_res_tasks_;
    CHECK_GE(pending_high_res_tasks_, 0) << "a high-resolution task was counted out twice";
  }

  nestable_tasks_allowed_ = false;
  {
    static const unsigned char* const category = trace_event::TraceLog::GetCategoryGroupEnabled("toplevel");
    internal::TaskRunScope run_scope(category, "MessageLoop::RunTask", pending_task.posted_from, /*bind_id=*/0,
                                     trace_event::kTraceEventFlagNone);
    task_annotator_.RunTask("MessageLoop::PostTask", pending_task);
    nestable_tasks_allowed_ = true;
  }
}

void MessageLoop::AddToDelayedWorkQueue(PendingTask pending_task) {
  delayed_work_queue_.push(std::move(pending_task));
}

bool MessageLoop::DeletePendingTasks() {
  bool did_work = !work_queue_.empty();
  while (!work_queue_.empty()) {
    PendingTask pending_task = std::move(work_queue_.front());
    work_queue_.pop();
    // Delayed tasks join the heap, so that they are destroyed in the order they would have run.
    if (!pending_task.delayed_run_time.is_null())
      AddToDelayedWorkQueue(std::move(pending_task));
  }
  did_work |= !deferred_non_nestable_work_queue_.empty();
  while (!deferred_non_nestable_work_queue_.empty())
    deferred_non_nestable_work_queue_.pop();
  did_work |= !delayed_work_queue_.empty();
  while (!delayed_work_queue_.empty())
    delayed_work_queue_.pop();
  return did_work;
}

// static
MessageLoopForIO* MessageLoopForIO::current() {
  MessageLoop* loop = MessageLoop::current();
  MessageLoopForIO* io_loop = dynamic_cast<MessageLoopForIO*>(loop);
  CHECK(io_loop) << "the thread's message loop is not an IO loop";
  return io_loop;
}

MessagePumpForIO* MessageLoopForIO::io_pump() const {
  CHECK(io_pump_) << "an IO loop with a pump of its own has no IO functions";
  return io_pump_;
}

bool MessageLoopForIO::RegisterIOHandler(HANDLE file_handle, IOHandler* handler) {
  return io_pump()->RegisterIOHandler(file_handle, handler);
}

bool MessageLoopForIO::WaitForIOCompletion(DWORD timeout_ms, IOHandler* filter) {
  return io_pump()->WaitForIOCompletion(timeout_ms, filter);
}

void MessageLoopForIO::AddIOObserver(IOObserver* observer) {
  io_pump()->AddIOObserver(observer);
}

void MessageLoopForIO::RemoveIOObserver(IOObserver* observer) {
  io_pump()->RemoveIOObserver(observer);
}

}  // namespace base
