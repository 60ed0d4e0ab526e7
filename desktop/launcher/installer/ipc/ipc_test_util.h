// Plain system-call ends of a mailslot for the IPC tests, so that each side of the installer's IPC is checked
// against something other than its own counterpart.
#ifndef DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_TEST_UTIL_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/packed_buffer.h"
#include "testing/test_support.h"

namespace zorvi::installer {

// The header and payload of `message` as bytes.
std::string BytesOf(const base::PackedBuffer& message);

// The reading end "\\.\mailslot\" + name, read with plain synchronous reads.
class RawMailslot {
 public:
  explicit RawMailslot(const std::wstring& name);
  bool valid() const { return handle_.valid(); }
  // Every datagram waiting now, in order.
  std::vector<std::string> ReadWaiting();

 private:
  test_support::ScopedTestHandle handle_;
};

// A writing end of "\\.\mailslot\" + name (or of any path, for pipes), written synchronously.
class RawWriter {
 public:
  explicit RawWriter(const std::wstring& path);
  bool valid() const { return handle_.valid(); }
  bool Write(const std::string& datagram);

 private:
  test_support::ScopedTestHandle handle_;
};

std::wstring MailslotPath(const std::wstring& name);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_IPC_IPC_TEST_UTIL_H_
