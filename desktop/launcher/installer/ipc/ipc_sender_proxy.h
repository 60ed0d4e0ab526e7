// Owns the sending side of the installer's mailslot: messages handed over from any thread are written in the
// order handed over, on the proxy's own IO thread, "Installer IPC thread".
#ifndef DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_SENDER_PROXY_H_
#define DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_SENDER_PROXY_H_

#include <memory>
#include <string>
#include <vector>

#include "base/packed_buffer.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread.h"
#include "desktop/launcher/installer/ipc/ipc_sender.h"

namespace base {
class WaitableEvent;
}

namespace zorvi::installer {

class IPCSenderProxy {
 public:
  IPCSenderProxy();
  // Closes.
  ~IPCSenderProxy();
  IPCSenderProxy(const IPCSenderProxy&) = delete;
  IPCSenderProxy& operator=(const IPCSenderProxy&) = delete;

  // Starts the IO thread and has it open the mailslot `name`. True when the thread started: a mailslot that
  // cannot be opened is only logged, and later messages are dropped. Messages sent right after Connect are
  // written once the mailslot is open: they queue behind its opening.
  bool Connect(const std::wstring& name);
  // Like Connect, writing to `handle` (owned) instead: see IPCSender::CreateForHandleForTesting.
  bool ConnectToHandleForTesting(HANDLE handle);

  // Any thread: queues `message` for writing. Dropped when nothing is connected.
  void Send(std::unique_ptr<base::PackedBuffer> message);

  // Any thread but the IO thread: returns once every message sent before has been written (waiting at most
  // IPCSender::kDrainLimitMs for the writes), so that what another process writes next comes after them.
  void Flush();

  // Writes what is still queued (for at most IPCSender::kDrainLimitMs), closes the mailslot and stops the
  // thread.
  void Close();

 private:
  void CreateSender(const std::wstring& name);
  void AdoptHandle(HANDLE handle);
  // On the IO thread: hands what Send collected to the sender, in order.
  void EnqueueOutgoing();
  void WriteOutgoing(base::WaitableEvent* written);
  void DestroySender();

  base::Thread thread_;
  // Only touched on the IO thread.
  std::unique_ptr<IPCSender> sender_;
  // Sent, not yet taken by the IO thread.
  base::Lock outgoing_lock_;
  std::vector<std::unique_ptr<base::PackedBuffer>> outgoing_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_SENDER_PROXY_H_
