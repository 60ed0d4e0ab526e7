// Sending a crash to the crash service: the text crash log, zipped, to the crash URL, and the minidump to the
// collector, each as one upload task, run at once or queued on the system thread pool. A queued task keeps the
// reporter alive until it has run.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_UPLOAD_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_UPLOAD_H_

#include <memory>

#include "base/files/file_path.h"
#include "base/time/time.h"
#include "desktop/windows/crash_reporter/reporter/crash_metadata.h"

namespace zorvi {
namespace installer {

// One upload of one file; the file is deleted with the task when `delete_file` says so, whatever the outcome.
class UploadTask {
 public:
  UploadTask(const base::FilePath& path, bool delete_file) : path_(path), delete_file_(delete_file) {}
  UploadTask(const UploadTask&) = delete;
  UploadTask& operator=(const UploadTask&) = delete;
  virtual ~UploadTask();

  virtual bool Run() = 0;

 protected:
  const base::FilePath path_;
  const bool delete_file_;
};

// The text crash log as the form file "file" to the crash URL; zipped first (the archive beside the log,
// deleted after the request) when `zip` is set.
class ZipLogUploadTask : public UploadTask {
 public:
  ZipLogUploadTask(const base::FilePath& path, bool delete_file, const UploadParameters& parameters, bool zip)
      : UploadTask(path, delete_file), parameters_(parameters), zip_(zip) {}
  bool Run() override;

 private:
  const UploadParameters parameters_;
  const bool zip_;
};

// The minidump as the form file "upload_file_minidump" to the collector.
class MinidumpUploadTask : public UploadTask {
 public:
  MinidumpUploadTask(const base::FilePath& path, bool delete_file, const UploadParameters& parameters)
      : UploadTask(path, delete_file), parameters_(parameters) {}
  bool Run() override;

 private:
  const UploadParameters parameters_;
};

// Queues `task` on the system thread pool holding one unit of the reporter's lifetime until it has run. Without
// a task, or when it cannot be queued, the file is deleted when `delete_file` says so: false.
bool QueueUploadTask(std::unique_ptr<UploadTask> task, const base::FilePath& path, bool delete_file);

bool QueueLogUpload(const base::FilePath& path, bool delete_file, const UploadParameters& parameters);
bool QueueMinidumpUpload(const base::FilePath& path, bool delete_file, const UploadParameters& parameters);
// Run on the calling thread; the file is kept.
bool UploadLogNow(const base::FilePath& path, const UploadParameters& parameters, bool zip);
bool UploadMinidumpNow(const base::FilePath& path, const UploadParameters& parameters);

// How long an upload's sending or waiting for the answer may stall, and reading the whole answer may take (a
// minute); zero or negative keeps the product's.
void SetUploadTimeLimitForTesting(base::TimeDelta limit);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_UPLOAD_H_
