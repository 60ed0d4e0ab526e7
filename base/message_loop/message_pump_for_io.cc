#include "base/message_loop/message_pump_for_io.h"

#include "base/logging.h"

namespace base {
namespace {

// Bit 0 of a completion key: the packet's overlapped block is not an IOContext.
constexpr ULONG_PTR kNotIOContextKeyBit = 1;

}  // namespace

MessagePumpForIO::MessagePumpForIO() {
  port_.Set(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  if (!port_.IsValid())
    PLOG(ERROR) << "CreateIoCompletionPort for the message pump failed";
}

// The observers, the kept completions and then the port go with the members, in that order.
MessagePumpForIO::~MessagePumpForIO() = default;

void MessagePumpForIO::ScheduleWork() {
  if (have_work_.exchange(1, std::memory_order_acq_rel) == 1)
    return;  // a wake-up is already in flight
  // The pump itself as key and overlapped pointer marks the packet as the pump's own wake-up.
  if (PostQueuedCompletionStatus(port_.Get(), 0, reinterpret_cast<ULONG_PTR>(this),
                                 reinterpret_cast<OVERLAPPED*>(this))) {
    return;
  }
  have_work_.exchange(0, std::memory_order_acq_rel);
  RecordScheduleWorkError(COMPLETION_POST_ERROR);
}

void MessagePumpForIO::ScheduleDelayedWork(const TimeTicks& delayed_work_time) {
  // Only called on the pump's thread, which recomputes its wait before it next sleeps.
  delayed_work_time_ = delayed_work_time;
}

bool MessagePumpForIO::RegisterIOHandler(HANDLE file_handle, IOHandler* handler) {
  // The caller must know: an operation started on a handle that did not join would never complete here.
  if (CreateIoCompletionPort(file_handle, port_.Get(), reinterpret_cast<ULONG_PTR>(handler), 1))
    return true;
  PLOG(WARNING) << "A handle could not join the IO thread's completion port";
  return false;
}

void MessagePumpForIO::DoRunLoop() {
  for (;;) {
    // IO completions and tasks take turns; a burst of either cannot starve the other.
    bool more_work_is_plausible = state_->delegate->DoWork();
    if (state_->should_quit)
      break;

    more_work_is_plausible |= WaitForIOCompletion(0, nullptr);
    if (state_->should_quit)
      break;

    more_work_is_plausible |= state_->delegate->DoDelayedWork(&delayed_work_time_);
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    more_work_is_plausible = state_->delegate->DoIdleWork();
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    const int32_t delay = GetCurrentDelay();
    WaitForIOCompletion(delay < 0 ? INFINITE : static_cast<DWORD>(delay), nullptr);
  }
}

bool MessagePumpForIO::WaitForIOCompletion(DWORD timeout_ms, IOHandler* filter) {
  IOItem item;
  if (completed_io_.empty() || !MatchCompletedIOItem(filter, &item)) {
    // Nothing kept for this filter: take one from the port.
    if (!GetIOItem(timeout_ms, &item))
      return false;
    if (reinterpret_cast<void*>(item.context) == this && reinterpret_cast<void*>(item.handler) == this) {
      // The pump's own wake-up: the next post may send another.
      have_work_.exchange(0, std::memory_order_acq_rel);
      return true;
    }
  }

  if (item.has_valid_io_context && item.context && !item.context->handler) {
    // The handler went away while the operation was pending and left its context to us.
    delete item.context;
    return true;
  }

  if (filter && item.handler != filter) {
    // Kept for a later wait; a wait for another handler must not run this one's code.
    completed_io_.push_back(item);
    return true;
  }

  WillProcessIOEvent();
  item.handler->OnIOCompleted(item.context, item.bytes_transfered, item.error);
  DidProcessIOEvent();
  return true;
}

bool MessagePumpForIO::GetIOItem(DWORD timeout_ms, IOItem* item) {
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  item->error = 0;
  if (!GetQueuedCompletionStatus(port_.Get(), &bytes, &key, &overlapped, timeout_ms)) {
    if (!overlapped)
      return false;  // nothing dequeued (time-out, or the port failed)
    // A failed operation completed: its error goes to the handler.
    item->error = GetLastError();
    bytes = 0;
  }
  item->bytes_transfered = bytes;
  item->has_valid_io_context = (key & kNotIOContextKeyBit) == 0;
  item->handler = reinterpret_cast<IOHandler*>(key & ~kNotIOContextKeyBit);
  item->context = reinterpret_cast<IOContext*>(overlapped);
  return true;
}

bool MessagePumpForIO::MatchCompletedIOItem(IOHandler* filter, IOItem* item) {
  for (auto it = completed_io_.begin(); it != completed_io_.end(); ++it) {
    if (!filter || it->handler == filter) {
      *item = *it;
      completed_io_.erase(it);
      return true;
    }
  }
  return false;
}

void MessagePumpForIO::AddIOObserver(IOObserver* observer) {
  io_observers_.AddObserver(observer);
}

void MessagePumpForIO::RemoveIOObserver(IOObserver* observer) {
  io_observers_.RemoveObserver(observer);
}

void MessagePumpForIO::WillProcessIOEvent() {
  io_observers_.ForEach([](IOObserver* observer) { observer->WillProcessIOEvent(); });
}

void MessagePumpForIO::DidProcessIOEvent() {
  io_observers_.ForEach([](IOObserver* observer) { observer->DidProcessIOEvent(); });
}

}  // namespace base
