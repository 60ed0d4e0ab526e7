#include "desktop/launcher/installer/ipc/ipc_sender.h"

#include <utility>

#include "base/logging.h"
#include "base/time/time.h"
#include "desktop/launcher/installer/ipc/installer_message.h"

namespace zorvi::installer {
namespace {

constexpr wchar_t kMailslotPathPrefix[] = L"\\\\.\\mailslot\\";

}  // namespace

std::unique_ptr<IPCSender> IPCSender::Create(const std::wstring& name) {
  const std::wstring path = kMailslotPathPrefix + name;
  VLOG(1) << "Opening mailslot " << path;
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    PLOG(ERROR) << "Failed opening " << path;
    return nullptr;
  }
  std::unique_ptr<IPCSender> sender(new IPCSender(handle));
  if (!base::MessageLoopForIO::current()->RegisterIOHandler(handle, sender.get())) {
    LOG(ERROR) << "Failed opening " << path << ": its writes cannot complete on the IPC thread";
    return nullptr;
  }
  return sender;
}

IPCSender::IPCSender(HANDLE handle) : handle_(handle) {
  context_.handler = this;
}

IPCSender::~IPCSender() {
  VLOG(1) << "Closing mailslot.";
  base::MessageLoopForIO* loop = base::MessageLoopForIO::current();
  const base::TimeTicks deadline = base::TimeTicks::Now() + base::TimeDelta::FromMilliseconds(kDrainLimitMs);
  // Each completion starts the next write; a write that cannot be started ends the wait.
  while (write_pending_) {
    const int64_t left_ms = (deadline - base::TimeTicks::Now()).InMillisecondsRoundedUp();
    if (left_ms <= 0 || !loop->WaitForIOCompletion(static_cast<DWORD>(left_ms), this))
      break;
  }
  if (write_pending_) {
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
  if (!handle_.IsValid() || queue_.empty())
    return;
  const base::PackedBuffer& message = *queue_.front();
  context_.overlapped = {};
  if (!WriteFile(handle_.Get(), message.data(), static_cast<DWORD>(message.size()), nullptr, &context_.overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    PLOG(ERROR) << "Cannot write to mailslot";
    return;
  }
  write_pending_ = true;
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
