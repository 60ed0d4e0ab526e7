#include "base/threading/simple_thread.h"

#include "base/logging.h"

namespace base {

SimpleThread::SimpleThread(const std::string& name_prefix) : name_prefix_(name_prefix), name_(name_prefix) {}

SimpleThread::~SimpleThread() {
  CHECK(!thread_) << "thread \"" << name_ << "\" was started and never joined";
}

bool SimpleThread::Start() {
  CHECK(!HasBeenStarted()) << "thread \"" << name_prefix_ << "\" started twice";
  if (!PlatformThread::CreateWithPriority(stack_size_, this, &thread_, priority_)) {
    // Nothing will ever signal the event: waiting for it would hang the caller.
    LOG(ERROR) << "thread \"" << name_prefix_ << "\" could not be created";
    thread_ = nullptr;
    return false;
  }
  event_.Wait();
  return true;
}

void SimpleThread::Join() {
  CHECK(thread_) << "joining thread \"" << name_prefix_ << "\", which is not running";
  PlatformThread::Join(thread_);
  thread_ = nullptr;
  joined_ = true;
}

void SimpleThread::ThreadMain() {
  tid_ = PlatformThread::CurrentId();
  name_ = name_prefix_ + "/" + std::to_string(tid_);
  PlatformThread::SetName(name_);
  event_.Signal();
  Run();
}

}  // namespace base
