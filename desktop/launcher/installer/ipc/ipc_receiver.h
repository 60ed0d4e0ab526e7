// The reading end of a mailslot, living on an IO thread: each datagram is handed to the delegate on that
// thread, once and in arrival order.
//
// Reads are overlapped and complete through the thread's completion port. Where the system keeps a mailslot
// out of completion ports (it refuses to bind the handle, and an overlapped read then blocks until the read
// time-out), the receiver reads synchronously instead, in a task that gives up after a short read time-out
// and posts itself again, so that the thread's other tasks run in between.
#ifndef DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_RECEIVER_H_
#define DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_RECEIVER_H_

#include <windows.h>

#include <memory>
#include <string>

#include "base/memory/weak_ptr.h"
#include "base/message_loop/message_loop.h"
#include "base/packed_buffer.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/ipc/installer_message.h"

namespace zorvi::installer {

class IPCReceiver : public base::MessageLoopForIO::IOHandler {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // One datagram; `message` is valid only during the call.
    virtual void OnMessageReceived(const base::PackedBuffer& message) = 0;
  };

  // How long a synchronous read waits before the thread's other tasks get their turn; closing waits at most
  // this long once datagrams stop coming.
  static constexpr DWORD kSynchronousReadTimeoutMs = 50;

  // On an IO thread: creates the mailslot "\\.\mailslot\" + `name` and starts reading. Null (logged) when the
  // mailslot cannot be created.
  static std::unique_ptr<IPCReceiver> Create(const std::wstring& name, Delegate* delegate);
  // On an IO thread: reads datagrams from `handle` (owned), an overlapped message-mode handle that joins the
  // completion port. Lets tests drive the completion-port reader where mailslots cannot.
  static std::unique_ptr<IPCReceiver> CreateForHandleForTesting(HANDLE handle, Delegate* delegate);

  // Cancels a pending read and waits for its completion, so that nothing refers to this object afterwards.
  ~IPCReceiver() override;
  IPCReceiver(const IPCReceiver&) = delete;
  IPCReceiver& operator=(const IPCReceiver&) = delete;

  // Hands every datagram that is already waiting to the delegate before it returns.
  void ReadWaitingMessages();

  // Whether reads go through the completion port.
  bool reads_through_completion_port() const { return through_port_; }

  // base::MessageLoopForIO::IOHandler:
  void OnIOCompleted(base::MessageLoopForIO::IOContext* context, DWORD bytes_transfered, DWORD error) override;

 private:
  IPCReceiver(HANDLE handle, Delegate* delegate, bool is_mailslot);
  // Joins the completion port, or sets up synchronous reading where that is refused; then reads.
  bool Start();

  // Completion-port reading: starts the next overlapped read.
  void StartRead();

  // Synchronous reading: reads until a read times out, then posts itself again.
  void ReadAndRepost();
  // One synchronous read of at most the read time-out.
  enum class ReadResult { kRead, kNothing, kStop };
  ReadResult ReadOnce();

  void Deliver(DWORD bytes);
  void StopReading();

  base::win::ScopedHandle handle_;
  Delegate* const delegate_;
  const bool is_mailslot_;
  bool through_port_ = false;
  bool read_pending_ = false;
  base::MessageLoopForIO::IOContext context_ = {};
  char buffer_[kMaxInstallerMessageSize];
  base::WeakPtrFactory<IPCReceiver> weak_factory_{this};
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_RECEIVER_H_
