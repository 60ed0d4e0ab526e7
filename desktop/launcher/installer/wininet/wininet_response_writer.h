// Sinks of a download's response body. The downloader owns the writer of each download and calls it on its
// owner thread and on WinINet's callback threads, one call at a time.
#ifndef DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_RESPONSE_WRITER_H_
#define DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_RESPONSE_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace zorvi::installer {

// A plain instance drops the body (the statistics sender ignores the reply).
class WininetResponseWriter {
 public:
  WininetResponseWriter() = default;
  WininetResponseWriter(const WininetResponseWriter&) = delete;
  WininetResponseWriter& operator=(const WininetResponseWriter&) = delete;
  virtual ~WininetResponseWriter() = default;

  // Appends `size` bytes; false fails the download.
  virtual bool Write(const char* data, uint32_t size);
  // Puts everything written so far where it belongs, before the download reports a complete body; false fails
  // the download.
  virtual bool Flush() { return true; }
  // No further writes follow.
  virtual void Close() {}
  // Drops everything written so far: a server answered a range request with the whole body, which is then
  // written again from its start. False fails the download.
  virtual bool Reset();
};

// Collects the body into a string owned by the caller, which must outlive the writer. A download that fails
// half-way leaves the part received.
class WininetStringResponseWriter : public WininetResponseWriter {
 public:
  // Empties `target`.
  explicit WininetStringResponseWriter(std::string* target);

  bool Write(const char* data, uint32_t size) override;
  bool Reset() override;

 private:
  std::string* const target_;
};

// Writes the body into a file. The body arrives a KiB at a time, and a write to a file costs a system call (under
// wine a round trip to its server as well), so the pieces are gathered into large writes. Flush and Close write
// out what is gathered: the part received is in the file whenever the download has ended.
class WininetFileResponseWriter : public WininetResponseWriter {
 public:
  // What is gathered before it is written.
  static constexpr size_t kWriteSize = 1 << 20;

  WininetFileResponseWriter() = default;
  ~WininetFileResponseWriter() override;

  // Creates (or empties) the file. On failure every Write fails, and so does the download.
  bool Open(const base::FilePath& path);

  bool Write(const char* data, uint32_t size) override;
  bool Flush() override;
  void Close() override;
  bool Reset() override;

 private:
  base::win::ScopedHandle file_;
  std::vector<char> gathered_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_RESPONSE_WRITER_H_
