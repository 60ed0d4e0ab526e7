// Owns the receiving side of the installer's mailslot for a thread that must not block on it: the mailslot
// is read on the proxy's own IO thread, "Installer IPC thread", and every datagram is copied and delivered to
// the target on the thread that made the proxy, in arrival order. Deliveries still queued when the proxy goes
// away are dropped.
#ifndef DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_RECEIVER_PROXY_H_
#define DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_RECEIVER_PROXY_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/memory/weak_ptr.h"
#include "base/packed_buffer.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread.h"
#include "desktop/launcher/installer/ipc/ipc_receiver.h"

namespace base {
class WaitableEvent;
}

namespace zorvi::installer {

class IPCReceiverProxy : public IPCReceiver::Delegate {
 public:
  // `target` receives the messages on the creating thread; it must outlive the proxy's use.
  explicit IPCReceiverProxy(IPCReceiver::Delegate* target);
  ~IPCReceiverProxy() override;
  IPCReceiverProxy(const IPCReceiverProxy&) = delete;
  IPCReceiverProxy& operator=(const IPCReceiverProxy&) = delete;

  // Starts the IO thread and has it create the mailslot `name`; returns once it has been tried. True when the
  // thread started: a mailslot that cannot be created is only logged, and nothing is received then.
  bool Connect(const std::wstring& name);
  // Whether the last Connect made its mailslot (so that what is sent to it is received), until Close.
  bool listening() const { return listening_; }
  // Like Connect, reading `handle` (owned) instead of a mailslot: see IPCReceiver::CreateForHandleForTesting.
  bool ConnectToHandleForTesting(HANDLE handle);

  // Closes the mailslot on the IO thread and stops the thread. Nothing is delivered afterwards, not even what
  // was received before but not yet delivered.
  void Close();

  // Delivers every datagram already waiting in the mailslot, then runs `done` on the creating thread. Runs
  // `done` at once when nothing is connected.
  void DeliverWaitingMessagesThen(base::Closure done);

  // IPCReceiver::Delegate, on the IO thread.
  void OnMessageReceived(const base::PackedBuffer& message) override;

  // For tests, on the creating thread once Connect has run: whether the mailslot exists and is read through
  // the completion port. Waits for the IO thread to answer.
  bool ReadsThroughCompletionPortForTesting();

 private:
  void CreateReceiver(const std::wstring& name, base::WaitableEvent* created);
  void AdoptHandle(HANDLE handle);
  void DestroyReceiver();
  void ReadWaitingMessages();
  // On the creating thread: delivers what OnMessageReceived collected, in order.
  void DeliverIncoming();

  IPCReceiver::Delegate* const target_;
  const base::scoped_refptr<base::SingleThreadTaskRunner> owner_task_runner_;
  base::Thread thread_;
  // Written on the IO thread before Connect's wait ends, read on the creating thread after it.
  bool listening_ = false;
  // Only touched on the IO thread.
  std::unique_ptr<IPCReceiver> receiver_;
  // Received, not yet delivered: each datagram's bytes as they arrived (none for one that was no message).
  base::Lock incoming_lock_;
  std::vector<std::string> incoming_;
  base::WeakPtrFactory<IPCReceiverProxy> weak_factory_{this};
  // Taken on the creating thread, copied on the IO thread into each delivery.
  base::WeakPtr<IPCReceiverProxy> weak_this_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_RECEIVER_PROXY_H_
