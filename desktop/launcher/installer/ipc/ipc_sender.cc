#include "desktop/launcher/installer/ipc/ipc_sender.h"

#include <utility>

#include "base/logging.h"
#include "base/time/time.h"
#include "desktop/launcher/installer/ipc/installer_message.h"
#include "desktop/launcher/installer/ipc/ipc_common.h"

namespace zorvi::installer {

std::unique_ptr<IPCSender> IPCSender::Create(const std::wstring& name) {
  const std::wstring path = GetMailslotPath(name);
  VLOG(1) << "Opening mailslot " << path;
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    PLOG(ERROR) << "Failed opening " << path;
    return nullptr;
  }
  return Register(std::unique_ptr<IPCSender>(new IPCSender(handle)), path);
}

std::unique_ptr<IPCSender> IPCSender::CreateForHandleForTesting(HANDLE handle) {
  return Register(std::unique_ptr<IPCSender>(new IPCSender(handle)), L"a test's handle");
}

std::unique_ptr<IPCSender> IPCSender::Register(std::unique_ptr<IPCSender> sender, const std::wstring& path) {
  if (!base::MessageLoopForIO::current()->RegisterIOHandler(sender->handle_.Get(), sender.get())) {
    LOG(ERROR) << "Failed opening " << path << ": its writes cannot complete on the IPC thread";
    return nullptr;
  }
  // A write that is done when it returns (a mailslot takes a datagram at once) then needs no trip through the
  // port, and the next one starts right away.
  sender->skips_port_on_success_ =
      SetFileCompletionNotificationModes(sender->handle_.Get(), FILE_SKIP_COMPLETION_PORT_ON_SUCCESS) != FALSE;
  return sender;
}

IPCSender::IPCSender(HANDLE handle) : handle_(handle) {
  context_.handler = this;
}

IPCSender::~IPCSender() {
  VLOG(1) << "Closing mailslot.";
  base::MessageLoopForIO* loop = base::MessageLoopForIO::current();
  if (!WriteQueue(kDrainLimitMs)) {
    VLOG(1) << "I/O still pending on mailslot.";
    CancelIo(handle_.Get());
  }
  const int failed_before_close = failed_writes_;
  handle_.Close();
  while (write_pending_ && loop->WaitForIOCompletion(INFINITE, this)) {
  }
  // A cancelled write left the queue without reaching the mailslot.
  VLOG(1) << "Messages unsent: " << queue_.size() + (failed_writes_ - failed_before_close);
}

bool IPCSender::WriteQueue(DWORD limit_ms) {
  base::MessageLoopForIO* loop = base::MessageLoopForIO::current();
  const base::TimeTicks deadline = base::TimeTicks::Now() + base::TimeDelta::FromMilliseconds(limit_ms);
  // Each completion starts the next write; a write that cannot be started ends the wait.
  while (write_pending_) {
    const int64_t left_ms = (deadline - base::TimeTicks::Now()).InMillisecondsRoundedUp();
    if (left_ms <= 0 || !loop->WaitForIOCompletion(static_cast<DWORD>(left_ms), this))
      break;
  }
  return !write_pending_;
}

void IPCSender::Enqueue(std::unique_ptr<base::PackedBuffer> message) {
  if (message->size() > kMaxInstallerMessageSize) {
    LOG(ERROR) << "Dropping a message of " << message->size() << " bytes: a datagram holds at most "
               << kMaxInstallerMessageSize;
  } else {
    queue_.push_back(std::move(message));
  }
  if (!write_pending_)
    WriteFront();
}

void IPCSender::WriteFront() {
  while (handle_.IsValid() && !queue_.empty()) {
    const base::PackedBuffer& message = *queue_.front();
    context_.overlapped = {};
    if (WriteFile(handle_.Get(), message.data(), static_cast<DWORD>(message.size()), nullptr, &context_.overlapped)) {
      if (!skips_port_on_success_) {
        write_pending_ = true;  // its completion still comes through the port
        return;
      }
      queue_.pop_front();
      continue;
    }
    if (GetLastError() == ERROR_IO_PENDING) {
      write_pending_ = true;
      return;
    }
    PLOG(ERROR) << "Cannot write to mailslot";
    return;
  }
}

void IPCSender::OnIOCompleted(base::MessageLoopForIO::IOContext*, DWORD, DWORD error) {
  write_pending_ = false;
  if (error != 0) {
    ++failed_writes_;
    SetLastError(error);
    PLOG(ERROR) << "Cannot write to mailslot";
  }
  queue_.pop_front();
  WriteFront();
}

}  // namespace zorvi::installer
