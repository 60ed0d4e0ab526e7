#include "desktop/launcher/installer/wininet/wininet_response_writer.h"

#include <windows.h>

#include "base/logging.h"

namespace zorvi::installer {

bool WininetResponseWriter::Write(const char* /*data*/, uint32_t /*size*/) {
  return true;
}

bool WininetResponseWriter::Reset() {
  return true;
}

WininetStringResponseWriter::WininetStringResponseWriter(std::string* target) : target_(target) {
  CHECK(target_);
  target_->clear();
}

bool WininetStringResponseWriter::Write(const char* data, uint32_t size) {
  target_->append(data, size);
  return true;
}

bool WininetStringResponseWriter::Reset() {
  target_->clear();
  return true;
}

WininetFileResponseWriter::~WininetFileResponseWriter() {
  Close();
}

bool WininetFileResponseWriter::Open(const base::FilePath& path) {
  file_.Set(CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr));
  if (!file_.IsValid()) {
    PLOG(ERROR) << "Could not open download file for writing";
    return false;
  }
  gathered_.reserve(kWriteSize);
  return true;
}

bool WininetFileResponseWriter::Write(const char* data, uint32_t size) {
  if (!file_.IsValid()) {
    LOG(ERROR) << "Failed writing response to downloading file: it is not open";
    return false;
  }
  gathered_.insert(gathered_.end(), data, data + size);
  return gathered_.size() < kWriteSize || Flush();
}

bool WininetFileResponseWriter::Flush() {
  if (gathered_.empty())
    return true;
  DWORD written = 0;
  const bool wrote = WriteFile(file_.Get(), gathered_.data(), static_cast<DWORD>(gathered_.size()), &written,
                               nullptr) &&
                     written == gathered_.size();
  if (!wrote)
    PLOG(ERROR) << "Failed writing response to downloading file";
  // Written or not, it is not written again: a part written twice would corrupt the file.
  gathered_.clear();
  return wrote;
}

void WininetFileResponseWriter::Close() {
  Flush();
  file_.Close();
}

bool WininetFileResponseWriter::Reset() {
  gathered_.clear();
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.Get())) {
    PLOG(ERROR) << "Could not empty the download file";
    return false;
  }
  return true;
}

}  // namespace zorvi::installer
