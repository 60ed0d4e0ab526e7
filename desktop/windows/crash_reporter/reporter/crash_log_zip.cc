#include "desktop/windows/crash_reporter/reporter/crash_log_zip.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"

// clang-format off
#include "zip.h"
#include "iowin32.h"  // after zip.h, which declares what it uses
// clang-format on

namespace zorvi {
namespace installer {
namespace {

constexpr size_t kChunkSize = 1048576;

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};

// Copies the whole log into the archive's open entry; false at a short read or a failed write.
bool CopyLogIntoEntry(const base::FilePath& log_path, zipFile zip) {
  std::unique_ptr<FILE, FileCloser> log(_wfopen(log_path.value().c_str(), L"rb"));
  if (!log || _fseeki64(log.get(), 0, SEEK_END) != 0)
    return false;
  const int64_t size = _ftelli64(log.get());
  if (size <= 0 || _fseeki64(log.get(), 0, SEEK_SET) != 0)
    return false;
  std::vector<char> buffer(kChunkSize);
  int64_t copied = 0;
  while (copied < size) {
    const size_t read = fread(buffer.data(), 1, buffer.size(), log.get());
    if (read == 0 || zipWriteInFileInZip(zip, buffer.data(), static_cast<unsigned>(read)) != ZIP_OK)
      break;
    copied += static_cast<int64_t>(read);
    if (read < buffer.size())
      break;
  }
  return copied == size;
}

}  // namespace

bool ZipCrashLog(const base::FilePath& log_path, const base::FilePath& zip_path) {
  // The wide-character file functions: the paths may hold any character (a temporary folder under a user name
  // outside the ANSI code page), which narrow file names cannot carry.
  zlib_filefunc64_def file_functions;
  fill_win32_filefunc64W(&file_functions);
  zipFile zip = zipOpen2_64(zip_path.value().c_str(), APPEND_STATUS_CREATE, nullptr, &file_functions);
  if (!zip) {
    LOG(ERROR) << "Could not create the crash log archive";
    return false;
  }
  zip_fileinfo info = {};
  bool copied = zipOpenNewFileInZip(zip, "crashlog.txt", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9) ==
                ZIP_OK;
  if (copied) {
    copied = CopyLogIntoEntry(log_path, zip);
    copied = zipCloseFileInZip(zip) == ZIP_OK && copied;
  }
  const bool closed = zipClose(zip, nullptr) == ZIP_OK;
  if (copied && closed)
    return true;
  LOG(ERROR) << "Could not zip the crash log";
  base::DeleteFile(zip_path, false);
  return false;
}

}  // namespace installer
}  // namespace zorvi
