#include "desktop/launcher/installer/ipc/ipc_common.h"

#include <utility>

#include "base/logging.h"

namespace zorvi::installer {

const char kIPCThreadName[] = "Installer IPC thread";

std::wstring GetMailslotPath(const std::wstring& name) {
  return L"\\\\.\\mailslot\\" + name;
}

bool StartIPCThread(base::Thread* thread, const base::Location& from_here, base::Closure first_task) {
  base::Thread::Options options;
  options.message_loop_type = base::MessageLoop::TYPE_IO;
  if (!thread->StartWithOptions(options)) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  thread->task_runner()->PostTask(from_here, std::move(first_task));
  return true;
}

}  // namespace zorvi::installer
