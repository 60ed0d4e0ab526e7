#include "desktop/windows/crash_reporter/reporter/crash_upload.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/crash_reporter/reporter/crash_log_zip.h"
#include "desktop/windows/crash_reporter/reporter/crash_url.h"
#include "desktop/windows/crash_reporter/reporter/multipart_upload.h"
#include "desktop/windows/crash_reporter/reporter/reporter_lifetime.h"

namespace zorvi {
namespace installer {
namespace {

// A server that takes an upload and never answers, or answers a byte at a time, would otherwise hold the upload,
// and with it the reporter (which ends only once its uploads have), for good.
constexpr int kUploadTimeLimitMs = 60000;
std::atomic<int> g_upload_time_limit_ms{0};

int UploadTimeLimitMs() {
  const int seam = g_upload_time_limit_ms.load();
  return seam > 0 ? seam : kUploadTimeLimitMs;
}

DWORD CALLBACK RunQueuedUpload(void* item) {
  std::unique_ptr<UploadTask> task(static_cast<UploadTask*>(item));
  task->Run();
  task.reset();
  ReporterLifetime::Get().Release();
  return 0;
}

}  // namespace

UploadTask::~UploadTask() {
  if (delete_file_)
    base::DeleteFile(path_, false);
}

bool ZipLogUploadTask::Run() {
  base::FilePath sent = path_;
  if (zip_) {
    sent = path_.ReplaceExtension(L".zip");
    if (!ZipCrashLog(path_, sent))
      return false;
  }
  const int time_limit_ms = UploadTimeLimitMs();
  const bool uploaded = MultipartUpload::SendRequest(GetCrashUserAgentSuffix(), GetCrashUrl(), parameters_,
                                                     {{L"file", sent.value()}}, &time_limit_ms, nullptr, nullptr);
  if (zip_)
    base::DeleteFile(sent, false);
  return uploaded;
}

bool MinidumpUploadTask::Run() {
  const int time_limit_ms = UploadTimeLimitMs();
  return MultipartUpload::SendRequestWithoutAgentSuffix(GetCollectorUrl(), parameters_,
                                                        {{L"upload_file_minidump", path_.value()}}, &time_limit_ms,
                                                        nullptr, nullptr);
}

bool QueueUploadTask(std::unique_ptr<UploadTask> task, const base::FilePath& path, bool delete_file) {
  if (!task) {
    if (delete_file)
      base::DeleteFile(path, false);
    return false;
  }
  ReporterLifetime::Get().AddRef();
  UploadTask* item = task.release();
  if (QueueUserWorkItem(&RunQueuedUpload, item, WT_EXECUTELONGFUNCTION))
    return true;
  PLOG(ERROR) << "Could not queue an upload";
  delete item;  // deletes the file when asked to
  ReporterLifetime::Get().Release();
  return false;
}

bool QueueLogUpload(const base::FilePath& path, bool delete_file, const UploadParameters& parameters) {
  return QueueUploadTask(std::make_unique<ZipLogUploadTask>(path, delete_file, parameters, true), path,
                         delete_file);
}

bool QueueMinidumpUpload(const base::FilePath& path, bool delete_file, const UploadParameters& parameters) {
  return QueueUploadTask(std::make_unique<MinidumpUploadTask>(path, delete_file, parameters), path, delete_file);
}

bool UploadLogNow(const base::FilePath& path, const UploadParameters& parameters, bool zip) {
  return ZipLogUploadTask(path, false, parameters, zip).Run();
}

bool UploadMinidumpNow(const base::FilePath& path, const UploadParameters& parameters) {
  return MinidumpUploadTask(path, false, parameters).Run();
}

void SetUploadTimeLimitForTesting(base::TimeDelta limit) {
  g_upload_time_limit_ms = static_cast<int>(limit.InMilliseconds());
}

}  // namespace installer
}  // namespace zorvi
