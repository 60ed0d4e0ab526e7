#include "desktop/launcher/installer/ipc/ipc_sender_proxy.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/synchronization/waitable_event.h"
#include "desktop/launcher/installer/ipc/ipc_common.h"

namespace zorvi::installer {

IPCSenderProxy::IPCSenderProxy() : thread_(kIPCThreadName) {}

IPCSenderProxy::~IPCSenderProxy() {
  Close();
}

bool IPCSenderProxy::Connect(const std::wstring& name) {
  VLOG(1) << "Preparing to send IPC on " << name;
  return StartIPCThread(&thread_, FROM_HERE_WITH_EXPLICIT_FUNCTION("zorvi::installer::IPCSenderProxy::Connect"),
                        base::Bind(&IPCSenderProxy::CreateSender, base::Unretained(this), name));
}

bool IPCSenderProxy::ConnectToHandleForTesting(HANDLE handle) {
  return StartIPCThread(&thread_, FROM_HERE,
                        base::Bind(&IPCSenderProxy::AdoptHandle, base::Unretained(this), handle));
}

void IPCSenderProxy::AdoptHandle(HANDLE handle) {
  sender_ = IPCSender::CreateForHandleForTesting(handle);
}

void IPCSenderProxy::CreateSender(const std::wstring& name) {
  sender_ = IPCSender::Create(name);
}

void IPCSenderProxy::Send(std::unique_ptr<base::PackedBuffer> message) {
  base::scoped_refptr<base::SingleThreadTaskRunner> task_runner = thread_.task_runner();
  if (!task_runner)
    return;
  // One task carries every message sent before it runs: a burst of notifications wakes the thread once.
  bool first = false;
  {
    base::AutoLock hold(outgoing_lock_);
    first = outgoing_.empty();
    outgoing_.push_back(std::move(message));
  }
  if (first)
    task_runner->PostTask(FROM_HERE_WITH_EXPLICIT_FUNCTION("zorvi::installer::IPCSenderProxy::Send"),
                          base::Bind(&IPCSenderProxy::EnqueueOutgoing, base::Unretained(this)));
}

void IPCSenderProxy::EnqueueOutgoing() {
  std::vector<std::unique_ptr<base::PackedBuffer>> messages;
  {
    base::AutoLock hold(outgoing_lock_);
    messages.swap(outgoing_);
  }
  for (std::unique_ptr<base::PackedBuffer>& message : messages) {
    if (sender_)
      sender_->Enqueue(std::move(message));
  }
}

void IPCSenderProxy::Flush() {
  base::scoped_refptr<base::SingleThreadTaskRunner> task_runner = thread_.task_runner();
  if (!task_runner)
    return;
  base::WaitableEvent written(true, false);
  task_runner->PostTask(FROM_HERE, base::Bind(&IPCSenderProxy::WriteOutgoing, base::Unretained(this), &written));
  written.Wait();
}

void IPCSenderProxy::WriteOutgoing(base::WaitableEvent* written) {
  EnqueueOutgoing();
  if (sender_ && !sender_->WriteQueue(IPCSender::kDrainLimitMs))
    LOG(WARNING) << "Messages still pending after " << IPCSender::kDrainLimitMs << " ms";
  written->Signal();
}

void IPCSenderProxy::Close() {
  if (!thread_.task_runner())
    return;
  VLOG(1) << "Stopping RPC sender";
  thread_.task_runner()->PostTask(FROM_HERE_WITH_EXPLICIT_FUNCTION("zorvi::installer::IPCSenderProxy::Close"),
                                  base::Bind(&IPCSenderProxy::DestroySender, base::Unretained(this)));
  thread_.Stop();
}

void IPCSenderProxy::DestroySender() {
  sender_.reset();
}

}  // namespace zorvi::installer
