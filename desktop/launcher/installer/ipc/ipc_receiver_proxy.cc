#include "desktop/launcher/installer/ipc/ipc_receiver_proxy.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "desktop/launcher/installer/ipc/ipc_common.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread_task_runner_handle.h"

namespace zorvi::installer {

IPCReceiverProxy::IPCReceiverProxy(IPCReceiver::Delegate* target)
    : target_(target), owner_task_runner_(base::ThreadTaskRunnerHandle::Get()), thread_(kIPCThreadName) {
  weak_this_ = weak_factory_.GetWeakPtr();
}

IPCReceiverProxy::~IPCReceiverProxy() {
  Close();
}

bool IPCReceiverProxy::Connect(const std::wstring& name) {
  VLOG(1) << "Preparing to receive IPC on " << name;
  // The runner starts its backend right after: the mailslot must exist by then, or the backend cannot open it
  // and every message of the run is lost.
  base::WaitableEvent created(true, false);
  if (!StartIPCThread(&thread_, FROM_HERE_WITH_EXPLICIT_FUNCTION("zorvi::installer::IPCReceiverProxy::Connect"),
                      base::Bind(&IPCReceiverProxy::CreateReceiver, base::Unretained(this), name, &created))) {
    return false;
  }
  created.Wait();
  return true;
}

bool IPCReceiverProxy::ConnectToHandleForTesting(HANDLE handle) {
  return StartIPCThread(&thread_, FROM_HERE,
                        base::Bind(&IPCReceiverProxy::AdoptHandle, base::Unretained(this), handle));
}

void IPCReceiverProxy::CreateReceiver(const std::wstring& name, base::WaitableEvent* created) {
  receiver_ = IPCReceiver::Create(name, this);
  listening_ = receiver_ != nullptr;
  created->Signal();
}

void IPCReceiverProxy::AdoptHandle(HANDLE handle) {
  receiver_ = IPCReceiver::CreateForHandleForTesting(handle, this);
}

void IPCReceiverProxy::Close() {
  VLOG(1) << "Stopping RPC receiver";
  listening_ = false;
  if (!thread_.task_runner())
    return;
  thread_.task_runner()->PostTask(FROM_HERE_WITH_EXPLICIT_FUNCTION("zorvi::installer::IPCReceiverProxy::Close"),
                                  base::Bind(&IPCReceiverProxy::DestroyReceiver, base::Unretained(this)));
  thread_.Stop();
  // Deliveries already queued for this thread are dropped too: whoever closes wants nothing more. Later
  // connections get a reference of their own (the IO thread, which copied the old one, has ended).
  weak_factory_.InvalidateWeakPtrs();
  weak_this_ = weak_factory_.GetWeakPtr();
  base::AutoLock hold(incoming_lock_);
  incoming_.clear();
}

void IPCReceiverProxy::DestroyReceiver() {
  receiver_.reset();
}

void IPCReceiverProxy::DeliverWaitingMessagesThen(base::Closure done) {
  // The reply is queued on this thread behind every delivery the read posted.
  if (!thread_.task_runner() ||
      !thread_.task_runner()->PostTaskAndReply(
          FROM_HERE, base::Bind(&IPCReceiverProxy::ReadWaitingMessages, base::Unretained(this)), done)) {
    done.Run();
  }
}

void IPCReceiverProxy::ReadWaitingMessages() {
  if (receiver_)
    receiver_->ReadWaitingMessages();
}

void IPCReceiverProxy::OnMessageReceived(const base::PackedBuffer& message) {
  // The received bytes are reused by the next read: the delivery carries its own copy, of exactly those bytes (a
  // buffer's copy pads the payload to whole words, and a message cut inside a field would then read whole). One
  // task carries every message received before it runs, so a burst wakes the owner thread once.
  const char* const bytes = static_cast<const char*>(message.data());
  std::string received = bytes ? std::string(bytes, message.size()) : std::string();
  bool first = false;
  {
    base::AutoLock hold(incoming_lock_);
    first = incoming_.empty();
    incoming_.push_back(std::move(received));
  }
  if (first) {
    owner_task_runner_->PostTask(
        FROM_HERE_WITH_EXPLICIT_FUNCTION("zorvi::installer::IPCReceiverProxy::OnMessageReceived"),
        base::Bind(&IPCReceiverProxy::DeliverIncoming, weak_this_));
  }
}

void IPCReceiverProxy::DeliverIncoming() {
  std::vector<std::string> messages;
  {
    base::AutoLock hold(incoming_lock_);
    messages.swap(incoming_);
  }
  // The target may close this proxy while it handles a message: what follows is then dropped.
  base::WeakPtr<IPCReceiverProxy> alive = weak_factory_.GetWeakPtr();
  for (const std::string& message : messages) {
    if (!alive.get())
      return;
    target_->OnMessageReceived(base::PackedBuffer(message.data(), static_cast<int>(message.size())));
  }
}

bool IPCReceiverProxy::ReadsThroughCompletionPortForTesting() {
  if (!thread_.task_runner())
    return false;
  base::WaitableEvent answered(true, false);
  bool through_port = false;
  thread_.task_runner()->PostTask(FROM_HERE, base::Bind([&] {
                                    through_port = receiver_ && receiver_->reads_through_completion_port();
                                    answered.Signal();
                                  }));
  answered.Wait();
  return through_port;
}

}  // namespace zorvi::installer
