// The pump of an IO thread: it sleeps on an I/O completion port and hands each completed operation to the
// handler of the file it was started on. Other threads wake it with a completion packet of its own.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_FOR_IO_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_FOR_IO_H_

#include <windows.h>

#include <cstdint>
#include <list>

#include "base/message_loop/message_pump_win.h"
#include "base/observer_list.h"
#include "base/win/scoped_handle.h"

namespace base {

class MessagePumpForIO : public MessagePumpWin {
 public:
  class IOHandler;

  // The record of one overlapped operation: the system's overlapped block, then the handler it completes
  // to. A handler that goes away while operations are pending clears `handler` and leaves the context to
  // the pump, which frees it (with delete) when the operation completes.
  struct IOContext {
    OVERLAPPED overlapped;
    IOHandler* handler;
  };

  class IOHandler {
   public:
    virtual ~IOHandler() = default;
    // On the pump's thread: the operation of `context` ended with `bytes_transfered` bytes and the Win32
    // `error` (0 on success).
    virtual void OnIOCompleted(IOContext* context, DWORD bytes_transfered, DWORD error) = 0;
  };

  // Told around every completion that reaches a handler.
  class IOObserver {
   public:
    virtual ~IOObserver() = default;
    virtual void WillProcessIOEvent() = 0;
    virtual void DidProcessIOEvent() = 0;
  };

  MessagePumpForIO();
  ~MessagePumpForIO() override;

  // Thread-safe.
  void ScheduleWork() override;
  void ScheduleDelayedWork(const TimeTicks& delayed_work_time) override;

  // Makes the completions of `file_handle` (opened for overlapped I/O) come to `handler`. The completion
  // key is the handler; a key with bit 0 set marks packets whose overlapped block is not an IOContext.
  // False when the handle could not join the port (not opened for overlapped I/O, bound to another port, or a
  // kind of handle the system keeps out of ports): no completion of it will ever arrive here.
  bool RegisterIOHandler(HANDLE file_handle, IOHandler* handler);

  // Waits at most `timeout_ms` (INFINITE: no limit) for one completion and delivers it. With a `filter`,
  // only that handler's completions are delivered; others are kept, in arrival order, for a later wait.
  // False when nothing arrived in time.
  bool WaitForIOCompletion(DWORD timeout_ms, IOHandler* filter);

  void AddIOObserver(IOObserver* observer);
  void RemoveIOObserver(IOObserver* observer);

 private:
  struct IOItem {
    IOHandler* handler;
    IOContext* context;
    DWORD bytes_transfered;
    DWORD error;
    bool has_valid_io_context;
  };

  void DoRunLoop() override;
  // Takes a completion off the port; false when none came within `timeout_ms`.
  bool GetIOItem(DWORD timeout_ms, IOItem* item);
  // Takes the first kept completion that `filter` accepts.
  bool MatchCompletedIOItem(IOHandler* filter, IOItem* item);
  void WillProcessIOEvent();
  void DidProcessIOEvent();

  win::ScopedHandle port_;
  std::list<IOItem> completed_io_;
  ObserverList<IOObserver> io_observers_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_FOR_IO_H_
