#include "base/threading/thread.h"

#include <objbase.h>

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/run_loop.h"
#include "base/threading/thread_local.h"

namespace base {
namespace {

// Set on a thread whose loop was ended by Thread::StopSoon's task.
constinit LazyInstance<ThreadLocalBoolean> g_quit_properly;

void ThreadQuitHelper() {
  MessageLoop::current()->QuitWhenIdle();
  g_quit_properly.Get().Set(true);
}

}  // namespace

Thread::Thread(const std::string& name) : name_(name) {}

Thread::~Thread() {
  Stop();
}

void Thread::SetComStatus(ComStatus com_status) {
  DCHECK(!message_loop()) << "the apartment is chosen before the thread starts";
  com_status_ = com_status;
}

bool Thread::Start() {
  Options options;
  if (com_status_ == ComStatus::STA)
    options.message_loop_type = MessageLoop::TYPE_UI;
  return StartWithOptions(options);
}

bool Thread::StartWithOptions(const Options& options) {
  CHECK(!message_loop()) << "thread \"" << name_ << "\" started twice";
  id_event_.Reset();
  id_ = 0;
  SetThreadWasQuitProperly(false);

  const MessageLoop::Type type =
      options.message_pump_factory.is_null() ? options.message_loop_type : MessageLoop::TYPE_CUSTOM;
  message_loop_timer_slack_ = options.timer_slack;
  std::unique_ptr<MessageLoop> message_loop = MessageLoop::CreateUnbound(type, options.message_pump_factory);
  {
    AutoLock lock(running_lock_);
    task_runner_ = message_loop->task_runner();
    message_loop_.store(message_loop.get(), std::memory_order_release);
  }
  start_event_.Reset();

  {
    AutoLock lock(thread_lock_);
    if (!PlatformThread::CreateWithPriority(options.stack_size, this, &thread_, options.priority)) {
      LOG(ERROR) << "thread \"" << name_ << "\" could not be created";
      thread_ = nullptr;
      AutoLock running(running_lock_);
      message_loop_.store(nullptr, std::memory_order_release);
      task_runner_ = nullptr;
      return false;  // the loop is destroyed here
    }
  }
  // The new thread owns the loop from now on.
  (void)message_loop.release();
  return true;
}

void Thread::Stop() {
  AutoLock lock(thread_lock_);
  if (!thread_)
    return;
  CHECK_NE(PlatformThread::CurrentId(), id_.load()) << "thread \"" << name_ << "\" cannot stop itself";
  StopSoon();
  // The loop runs what is ready, quits, and the thread destroys it and ends.
  PlatformThread::Join(thread_);
  thread_ = nullptr;
  stopping_ = false;
  AutoLock running(running_lock_);
  task_runner_ = nullptr;
}

void Thread::StopSoon() {
  if (stopping_)
    return;
  // Read once: a loop that quit itself may be cleared by its thread at any moment.
  const scoped_refptr<SingleThreadTaskRunner> runner = task_runner();
  if (!runner)
    return;
  stopping_ = true;
  runner->PostTask(Location("base::Thread::StopSoon", __FILE__, __LINE__, GetProgramCounter()),
                   Bind(&ThreadQuitHelper));
}

scoped_refptr<SingleThreadTaskRunner> Thread::task_runner() const {
  AutoLock lock(running_lock_);
  return message_loop() ? task_runner_ : nullptr;
}

PlatformThreadId Thread::GetThreadId() const {
  id_event_.Wait();
  return id_;
}

bool Thread::IsRunning() const {
  AutoLock lock(running_lock_);
  return running_;
}

void Thread::Run(MessageLoop* message_loop) {
  (void)message_loop;
  RunLoop().Run();
}

// static
bool Thread::GetThreadWasQuitProperly() {
  return g_quit_properly.Get().Get();
}

// static
void Thread::SetThreadWasQuitProperly(bool flag) {
  g_quit_properly.Get().Set(flag);
}

void Thread::ThreadMain() {
  id_ = PlatformThread::CurrentId();
  id_event_.Signal();
  PlatformThread::SetName(name_);

  MessageLoop* message_loop = this->message_loop();
  message_loop->BindToCurrentThread();
  message_loop->set_thread_name(name_);
  // The timer slack (message_loop_timer_slack_) would go to the pump here; no pump of this system uses it.

  HRESULT com_result = E_FAIL;
  if (com_status_ == ComStatus::STA)
    com_result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  else if (com_status_ == ComStatus::MTA)
    com_result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  Init();
  {
    AutoLock lock(running_lock_);
    running_ = true;
  }
  start_event_.Signal();
  Run(message_loop);
  {
    AutoLock lock(running_lock_);
    running_ = false;
  }
  CleanUp();

  if (SUCCEEDED(com_result))
    ::CoUninitialize();

  {
    AutoLock lock(running_lock_);
    message_loop_.store(nullptr, std::memory_order_release);
  }
  // Tasks still queued are destroyed and destruction observers are told, on this thread.
  delete message_loop;
}

}  // namespace base
