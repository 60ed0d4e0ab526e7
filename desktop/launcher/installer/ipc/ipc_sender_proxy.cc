#include "desktop/launcher/installer/ipc/ipc_sender_proxy.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"

namespace zorvi::installer {

IPCSenderProxy::IPCSenderProxy() : thread_("Installer IPC thread") {}

IPCSenderProxy::~IPCSenderProxy() {
  Close();
}

bool IPCSenderProxy::Connect(const std::wstring& name) {
  VLOG(1) << "Preparing to send IPC on " << name;
  base::Thread::Options options;
  options.message_loop_type = base::MessageLoop::TYPE_IO;
  if (!thread_.StartWithOptions(options)) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  // The thread is stopped (and so done with this object) before the proxy goes.
  thread_.task_runner()->PostTask(FROM_HERE, base::Bind(&IPCSenderProxy::CreateSender, base::Unretained(this), name));
  return true;
}

void IPCSenderProxy::CreateSender(const std::wstring& name) {
  sender_ = IPCSender::Create(name);
}

void IPCSenderProxy::Send(std::unique_ptr<base::PackedBuffer> message) {
  base::scoped_refptr<base::SingleThreadTaskRunner> task_runner = thread_.task_runner();
  if (task_runner) {
    task_runner->PostTask(FROM_HERE, base::Bind(&IPCSenderProxy::Enqueue, base::Unretained(this),
                                                base::Passed(std::move(message))));
  }
}

void IPCSenderProxy::Enqueue(std::unique_ptr<base::PackedBuffer> message) {
  if (sender_)
    sender_->Enqueue(std::move(message));
}

void IPCSenderProxy::Close() {
  if (!thread_.task_runner())
    return;
  VLOG(1) << "Stopping RPC sender";
  thread_.task_runner()->PostTask(FROM_HERE, base::Bind(&IPCSenderProxy::DestroySender, base::Unretained(this)));
  thread_.Stop();
}

void IPCSenderProxy::DestroySender() {
  sender_.reset();
}

}  // namespace zorvi::installer
