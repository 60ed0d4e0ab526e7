#include "desktop/launcher/installer/ipc/ipc_receiver_proxy.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread_task_runner_handle.h"

namespace zorvi::installer {

IPCReceiverProxy::IPCReceiverProxy(IPCReceiver::Delegate* target)
    : target_(target), owner_task_runner_(base::ThreadTaskRunnerHandle::Get()), thread_("Installer IPC thread") {
  weak_this_ = weak_factory_.GetWeakPtr();
}

IPCReceiverProxy::~IPCReceiverProxy() {
  Close();
}

bool IPCReceiverProxy::Connect(const std::wstring& name) {
  VLOG(1) << "Preparing to receive IPC on " << name;
  return StartThread(base::Bind(&IPCReceiverProxy::CreateReceiver, base::Unretained(this), name));
}

bool IPCReceiverProxy::ConnectToHandleForTesting(HANDLE handle) {
  return StartThread(base::Bind(&IPCReceiverProxy::AdoptHandle, base::Unretained(this), handle));
}

bool IPCReceiverProxy::StartThread(base::Closure create_receiver) {
  base::Thread::Options options;
  options.message_loop_type = base::MessageLoop::TYPE_IO;
  if (!thread_.StartWithOptions(options)) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  // The thread is stopped (and so done with this object) before the proxy goes.
  thread_.task_runner()->PostTask(FROM_HERE, std::move(create_receiver));
  return true;
}

void IPCReceiverProxy::CreateReceiver(const std::wstring& name) {
  receiver_ = IPCReceiver::Create(name, this);
}

void IPCReceiverProxy::AdoptHandle(HANDLE handle) {
  receiver_ = IPCReceiver::CreateForHandleForTesting(handle, this);
}

void IPCReceiverProxy::Close() {
  VLOG(1) << "Stopping RPC receiver";
  if (!thread_.task_runner())
    return;
  thread_.task_runner()->PostTask(FROM_HERE, base::Bind(&IPCReceiverProxy::DestroyReceiver, base::Unretained(this)));
  thread_.Stop();
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
  // The received bytes are reused by the next read: the delivery carries its own copy.
  owner_task_runner_->PostTask(FROM_HERE, base::Bind(&IPCReceiverProxy::Deliver, weak_this_,
                                                     base::Passed(std::make_unique<base::PackedBuffer>(message))));
}

void IPCReceiverProxy::Deliver(std::unique_ptr<base::PackedBuffer> message) {
  target_->OnMessageReceived(*message);
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
