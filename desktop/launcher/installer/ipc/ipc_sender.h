// The writing end of a mailslot, living on an IO thread: queued messages are written one at a time, in
// queue order, each as one datagram.
#ifndef DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_SENDER_H_
#define DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_SENDER_H_

#include <windows.h>

#include <deque>
#include <memory>
#include <string>

#include "base/message_loop/message_loop.h"
#include "base/packed_buffer.h"
#include "base/win/scoped_handle.h"

namespace zorvi::installer {

class IPCSender : public base::MessageLoopForIO::IOHandler {
 public:
  // How long closing waits for the queue to be written.
  static constexpr DWORD kDrainLimitMs = 1000;

  // On an IO thread: opens the mailslot "\\.\mailslot\" + `name` for writing. Null (logged) when it cannot.
  static std::unique_ptr<IPCSender> Create(const std::wstring& name);
  // On an IO thread: writes to `handle` (owned), an overlapped handle that joins the completion port. Lets tests
  // hold writes pending (a pipe nobody reads), which a mailslot never does under every system.
  static std::unique_ptr<IPCSender> CreateForHandleForTesting(HANDLE handle);

  // Writes what is queued first (for at most kDrainLimitMs: the process is usually about to end, and its last
  // messages are the ones that matter), then cancels what is still pending and logs how many messages were
  // not sent.
  ~IPCSender() override;
  IPCSender(const IPCSender&) = delete;
  IPCSender& operator=(const IPCSender&) = delete;

  // Queues `message` and writes it once those before it are written. A message larger than one datagram
  // could never be written and would hold up every later one: it is dropped with an error line.
  void Enqueue(std::unique_ptr<base::PackedBuffer> message);

  // Waits (at most `limit_ms`) until every queued message is written; false when some are still pending.
  bool WriteQueue(DWORD limit_ms);

  // base::MessageLoopForIO::IOHandler:
  void OnIOCompleted(base::MessageLoopForIO::IOContext* context, DWORD bytes_transfered, DWORD error) override;

 private:
  explicit IPCSender(HANDLE handle);
  // Joins the thread's completion port; null (logged) when the handle cannot.
  static std::unique_ptr<IPCSender> Register(std::unique_ptr<IPCSender> sender, const std::wstring& path);

  // Starts writing the head of the queue unless a write is pending. A write that cannot be started leaves its
  // message at the head for the next Enqueue.
  void WriteFront();

  base::win::ScopedHandle handle_;
  std::deque<std::unique_ptr<base::PackedBuffer>> queue_;
  base::MessageLoopForIO::IOContext context_ = {};
  bool write_pending_ = false;
  // Writes that finish at once report no completion.
  bool skips_port_on_success_ = false;
  // Writes that completed with an error (their message is lost).
  int failed_writes_ = 0;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_SENDER_H_
