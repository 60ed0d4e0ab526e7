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
  return true;
}

bool WininetFileResponseWriter::Write(const char* data, uint32_t size) {
  DWORD written = 0;
  if (!WriteFile(file_.Get(), data, size, &written, nullptr) || written != size) {
    PLOG(ERROR) << "Failed writing response to downloading file";
    return false;
  }
  return true;
}

void WininetFileResponseWriter::Close() {
  file_.Close();
}

bool WininetFileResponseWriter::Reset() {
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.Get())) {
    PLOG(ERROR) << "Could not empty the download file";
    return false;
  }
  return true;
}

}  // namespace zorvi::installer
