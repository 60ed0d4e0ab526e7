#include "desktop/launcher/installer/ipc/ipc_receiver.h"

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/launcher/installer/ipc/ipc_common.h"

namespace zorvi::installer {
namespace {

// Bounds the datagrams one ReadWaitingMessages takes, so that a writer that never stops cannot hold the
// thread for good.
constexpr int kMaxWaitingMessagesRead = 100000;

// Datagrams one synchronous reading task takes at most before the thread's other tasks run.
constexpr int kMaxReadsPerTask = 1000;

}  // namespace

std::unique_ptr<IPCReceiver> IPCReceiver::Create(const std::wstring& name, Delegate* delegate) {
  const std::wstring path = GetMailslotPath(name);
  VLOG(1) << "Creating mailslot " << path;
  HANDLE handle = CreateMailslotW(path.c_str(), kMaxInstallerMessageSize, MAILSLOT_WAIT_FOREVER, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    PLOG(ERROR) << "Failed creating " << path;
    return nullptr;
  }
  std::unique_ptr<IPCReceiver> receiver(new IPCReceiver(handle, delegate, true));
  if (!receiver->Start())
    return nullptr;
  return receiver;
}

std::unique_ptr<IPCReceiver> IPCReceiver::CreateForHandleForTesting(HANDLE handle, Delegate* delegate) {
  std::unique_ptr<IPCReceiver> receiver(new IPCReceiver(handle, delegate, false));
  if (!receiver->Start())
    return nullptr;
  return receiver;
}

IPCReceiver::IPCReceiver(HANDLE handle, Delegate* delegate, bool is_mailslot)
    : handle_(handle), delegate_(delegate), is_mailslot_(is_mailslot) {
  context_.handler = this;
}

IPCReceiver::~IPCReceiver() {
  VLOG(1) << "Closing mailslot";
  if (read_pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    CancelIo(handle_.Get());
  }
  handle_.Close();
  // The cancelled read still completes, and it refers to this object's context and buffer.
  while (read_pending_ && base::MessageLoopForIO::current()->WaitForIOCompletion(INFINITE, this)) {
  }
}

bool IPCReceiver::Start() {
  through_port_ = base::MessageLoopForIO::current()->RegisterIOHandler(handle_.Get(), this);
  if (through_port_) {
    StartRead();
    return true;
  }
  // Only a mailslot can be read the other way: its read time-out keeps each synchronous read short.
  if (!is_mailslot_ || !SetMailslotInfo(handle_.Get(), kSynchronousReadTimeoutMs)) {
    PLOG(ERROR) << "Cannot read from mailslot";
    return false;
  }
  VLOG(1) << "The mailslot cannot join the completion port; reading it synchronously";
  // As a task of its own: whoever creates the receiver need not wait out a first read.
  base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE,
                                                base::Bind(&IPCReceiver::ReadAndRepost, weak_factory_.GetWeakPtr()));
  return true;
}

void IPCReceiver::StartRead() {
  if (!handle_.IsValid())
    return;
  context_.overlapped = {};
  if (!ReadFile(handle_.Get(), buffer_, sizeof(buffer_), nullptr, &context_.overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    PLOG(ERROR) << "Cannot read from mailslot";
    StopReading();
    return;
  }
  // Even a read that finished at once reports through the port.
  read_pending_ = true;
}

void IPCReceiver::OnIOCompleted(base::MessageLoopForIO::IOContext*, DWORD bytes_transfered, DWORD error) {
  read_pending_ = false;
  if (!handle_.IsValid())
    return;  // the cancelled read of a closing receiver
  if (error != 0 && error != ERROR_MORE_DATA) {
    SetLastError(error);
    PLOG(ERROR) << "Cannot read from mailslot";
    StopReading();
    return;
  }
  Deliver(bytes_transfered);
  StartRead();
}

void IPCReceiver::ReadAndRepost() {
  // While datagrams keep coming they are read in one go; the thread's other tasks get their turn once a read
  // times out, or after a bounded burst.
  for (int i = 0; i < kMaxReadsPerTask; ++i) {
    switch (ReadOnce()) {
      case ReadResult::kRead:
        continue;
      case ReadResult::kNothing:
        break;
      case ReadResult::kStop:
        return;
    }
    break;
  }
  base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE,
                                                base::Bind(&IPCReceiver::ReadAndRepost, weak_factory_.GetWeakPtr()));
}

IPCReceiver::ReadResult IPCReceiver::ReadOnce() {
  DWORD bytes = 0;
  if (ReadFile(handle_.Get(), buffer_, sizeof(buffer_), &bytes, nullptr)) {
    Deliver(bytes);
    return ReadResult::kRead;
  }
  switch (GetLastError()) {
    case ERROR_SEM_TIMEOUT:  // nothing arrived within the read time-out
      return ReadResult::kNothing;
    case ERROR_BROKEN_PIPE:  // how wine reports an empty datagram
      return ReadResult::kRead;
    default:
      PLOG(ERROR) << "Cannot read from mailslot";
      StopReading();
      return ReadResult::kStop;
  }
}

void IPCReceiver::ReadWaitingMessages() {
  if (!handle_.IsValid())
    return;
  if (through_port_) {
    // A read that finds a datagram waiting completes at once, so its completion is already queued; each one
    // delivered starts the next read.
    while (base::MessageLoopForIO::current()->WaitForIOCompletion(0, this)) {
    }
    return;
  }
  for (int i = 0; i < kMaxWaitingMessagesRead; ++i) {
    DWORD next_size = MAILSLOT_NO_MESSAGE;
    if (!GetMailslotInfo(handle_.Get(), nullptr, &next_size, nullptr, nullptr) || next_size == MAILSLOT_NO_MESSAGE)
      return;
    if (ReadOnce() == ReadResult::kStop)
      return;
  }
}

void IPCReceiver::Deliver(DWORD bytes) {
  // An empty datagram carries nothing to deliver.
  if (bytes == 0)
    return;
  const base::PackedBuffer message(buffer_, static_cast<int>(bytes));
  delegate_->OnMessageReceived(message);
}

void IPCReceiver::StopReading() {
  // No further datagram is read for the rest of the run; the handle stays open so that writers do not fail.
  read_pending_ = false;
  weak_factory_.InvalidateWeakPtrs();
}

}  // namespace zorvi::installer
