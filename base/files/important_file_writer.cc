#include "base/files/important_file_writer.h"

#include <windows.h>

#include <atomic>
#include <climits>
#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "base/bind.h"
#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/metrics/histogram.h"
#include "base/strings/stringprintf.h"
#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"

namespace base {
namespace {

// Samples of "ImportantFile.TempFileFailures": the step of the atomic write that failed. The temporary file is
// opened once, as it is made, so 1 (opening it) no longer occurs.
enum TempFileFailure {
  kFailedCreating = 0,
  kFailedWriting = 3,
  kFailedRenaming = 4,
  kFailedFlushing = 5,
};

void RecordTempFileFailure(TempFileFailure failure) {
  // Asked for once and kept: without a statistics recorder every factory call makes a new histogram.
  static HistogramBase* const histogram = LinearHistogram::FactoryGet("ImportantFile.TempFileFailures", 1, 6, 7,
                                                                      HistogramBase::kReportedFlag);
  histogram->Add(failure);
}

std::atomic<ImportantFileWriter::TempFileCreatedHook> g_temp_file_created_hook{nullptr};
std::atomic<ImportantFileWriter::PathBusyHook> g_path_busy_hook{nullptr};
std::atomic<ImportantFileWriter::RetryWaitHook> g_retry_wait_hook{nullptr};

// A rename over a target that a reader has open is refused until the reader closes it: the rename is tried again
// after each of these pauses (about 1.3 s in all) before the write gives up.
constexpr DWORD kRenameRetryDelaysMs[] = {10, 20, 40, 80, 160, 320, 640};

// The paths being written by this process, one write of a path at a time: two writes of one file would otherwise
// each replace it in turn from their own thread, and their sweeps would meet each other's temporary files.
class PathsBeingWritten {
 public:
  // Waits until no other write of the path runs in this process, then takes the path.
  void Take(const std::wstring& key, const FilePath& path) {
    AutoLock hold(lock_);
    if (busy_.count(key)) {
      if (ImportantFileWriter::PathBusyHook hook = g_path_busy_hook.load(std::memory_order_acquire))
        hook(path);
      while (busy_.count(key))
        released_.Wait();
    }
    busy_.insert(key);
  }

  void Release(const std::wstring& key) {
    AutoLock hold(lock_);
    busy_.erase(key);
    released_.Broadcast();
  }

 private:
  Lock lock_;
  ConditionVariable released_{&lock_};
  std::set<std::wstring> busy_;
};

PathsBeingWritten& Paths() {
  static auto* paths = new PathsBeingWritten();
  return *paths;
}

// Holds a path for one write. The same file may be named in other letter cases, with other separators or
// relative to the current folder: the key is its full path in one form.
class ScopedPathWrite {
 public:
  explicit ScopedPathWrite(const FilePath& path) {
    const FilePath full = MakeAbsoluteFilePath(path);
    key_ = (full.empty() ? path : full).NormalizePathSeparators().StripTrailingSeparators().value();
    CharUpperBuffW(key_.data(), static_cast<DWORD>(key_.size()));
    Paths().Take(key_, path);
  }
  ScopedPathWrite(const ScopedPathWrite&) = delete;
  ScopedPathWrite& operator=(const ScopedPathWrite&) = delete;
  ~ScopedPathWrite() { Paths().Release(key_); }

 private:
  std::wstring key_;
};

// Temporary files are named after their target ("prefs.json~0A1B2C3D.tmp") so that the temporary file of a
// write whose process died before its rename can be recognised, and removed, by a later write of the same
// target without touching anybody else's files.
constexpr wchar_t kTempNameSeparator = L'~';
constexpr wchar_t kTempNameExtension[] = L".tmp";
constexpr size_t kTempNameHexDigits = 8;
constexpr int kMaxTempNameAttempts = 100;

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

// Whether `name` is a temporary-file name that a write of the target named `target_name` makes.
bool IsTempFileNameOf(const std::wstring& target_name, const std::wstring& name) {
  const size_t extension_length = std::size(kTempNameExtension) - 1;
  if (name.size() != target_name.size() + 1 + kTempNameHexDigits + extension_length)
    return false;
  if (FilePath::CompareIgnoreCase(StringPiece16(name).substr(0, target_name.size()), target_name) != 0)
    return false;
  if (name[target_name.size()] != kTempNameSeparator)
    return false;
  for (size_t i = 0; i < kTempNameHexDigits; ++i) {
    if (!IsHexDigit(name[target_name.size() + 1 + i]))
      return false;
  }
  return FilePath::CompareIgnoreCase(StringPiece16(name).substr(name.size() - extension_length),
                                     kTempNameExtension) == 0;
}

// Creates a new, empty, uniquely named temporary file beside `target` and keeps it open (*file) until it has
// replaced the target: nobody can delete it meanwhile, not even another process's sweep of abandoned files
// (below), as the handle lets nobody share deletion. Beside a target whose path is within a temporary name's
// length of the system's limit on paths (MAX_PATH), that name could never be made: the file is then named
// "~0A1B2C3D.tmp" in the same folder, which a later write cannot tell from another target's and leaves should its
// process die before the rename.
bool CreateTempFileBeside(const FilePath& target, FilePath* temp_file, File* file) {
  static std::atomic<uint32_t> sequence{0};
  const uint32_t seed = (::GetCurrentProcessId() * 0x9E3779B1u) ^ ::GetTickCount();
  const FilePath dir = target.DirName();
  const size_t suffix_length = 1 + kTempNameHexDigits + std::size(kTempNameExtension) - 1;
  const std::wstring prefix =
      (target.value().size() + suffix_length < MAX_PATH ? target.BaseName().value() : std::wstring()) +
      kTempNameSeparator;
  for (int attempt = 0; attempt < kMaxTempNameAttempts; ++attempt) {
    const uint32_t unique = seed + sequence.fetch_add(1, std::memory_order_relaxed) * 0x6F4F2A45u;
    const FilePath candidate = dir.Append(prefix + StringPrintf(L"%08X", unique) + kTempNameExtension);
    file->Initialize(candidate, FileFlags::Create | FileFlags::Write | FileFlags::Delete | FileFlags::ExclusiveWrite);
    if (file->IsValid()) {
      *temp_file = candidate;
      return true;
    }
    if (file->error_details() != FileError::Exists)
      return false;
  }
  return false;
}

// Deletes the file that `file` holds open, through the handle: the name may meanwhile lead to another file.
bool DeleteThroughHandle(File* file) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  const bool deleted =
      ::SetFileInformationByHandle(file->GetPlatformFile(), FileDispositionInfo, &disposition, sizeof(disposition));
  file->Close();
  return deleted;
}

// Removes the temporary files of earlier writes of `target` whose processes died before their rename. Only a file
// that nobody has open is taken: a live writer holds its own until the rename, and that open refuses this one.
void RemoveAbandonedTempFiles(const FilePath& target) {
  const std::wstring target_name = target.BaseName().value();
  FileEnumerator enumerator(target.DirName(), false, FileEnumerator::FILES,
                            target_name + kTempNameSeparator + L"*" + kTempNameExtension);
  for (FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    if (!IsTempFileNameOf(target_name, enumerator.GetInfo().GetName().value()))
      continue;
    File abandoned(path, FileFlags::Open | FileFlags::Delete | FileFlags::ExclusiveRead | FileFlags::ExclusiveWrite);
    if (abandoned.IsValid())
      DeleteThroughHandle(&abandoned);
  }
}

// Puts the file that `file` holds in the place of `target`, in one rename through the handle. While another
// process has the target open (a reader), the rename is refused; it is tried again for a while.
bool ReplaceThroughHandle(File* file, const FilePath& target) {
  for (size_t retry = 0;; ++retry) {
    if (RenameThroughHandle(file->GetPlatformFile(), target, true))
      return true;
    const DWORD error = ::GetLastError();
    const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held || retry == std::size(kRenameRetryDelaysMs))
      return false;
    if (ImportantFileWriter::RetryWaitHook hook = g_retry_wait_hook.load(std::memory_order_acquire))
      hook(kRenameRetryDelaysMs[retry]);
    else
      ::Sleep(kRenameRetryDelaysMs[retry]);
  }
}

void WriteScopedStringToFileAtomically(const FilePath& path, const std::string& data) {
  ImportantFileWriter::WriteFileAtomically(path, data);
}

}  // namespace

// static
bool ImportantFileWriter::WriteFileAtomically(const FilePath& path, StringPiece data) {
  if (data.size() > static_cast<size_t>(INT_MAX)) {
    LOG(ERROR) << "Refusing to write " << data.size() << " bytes to " << path.value();
    return false;
  }
  const int size = static_cast<int>(data.size());
  const ScopedPathWrite one_write_at_a_time(path);

  FilePath temp_file;
  File file;
  if (!CreateTempFileBeside(path, &temp_file, &file)) {
    RecordTempFileFailure(kFailedCreating);
    LOG(WARNING) << "Failed to create a temporary file to update " << path.value();
    return false;
  }
  if (TempFileCreatedHook hook = g_temp_file_created_hook.load(std::memory_order_acquire))
    hook(temp_file);

  const int bytes_written = size > 0 ? file.Write(0, data.data(), size) : 0;
  if (bytes_written < size) {
    RecordTempFileFailure(kFailedWriting);
    LOG(WARNING) << "Failed to write " << size << " bytes to temporary file to update " << path.value();
    DeleteThroughHandle(&file);
    return false;
  }
  if (!file.Flush()) {
    RecordTempFileFailure(kFailedFlushing);
    LOG(WARNING) << "Failed to flush temporary file to update " << path.value();
    DeleteThroughHandle(&file);
    return false;
  }
  // One rename that replaces the target: atomic within a volume. The system's replace function is not: it
  // may move the target out of the way before moving the new file in, and a crash in between loses both.
  if (!ReplaceThroughHandle(&file, path)) {
    const DWORD error = ::GetLastError();
    RecordTempFileFailure(kFailedRenaming);
    LOG(WARNING) << "Failed to replace " << path.value() << " with " << temp_file.value() << ": system error "
                 << error;
    DeleteThroughHandle(&file);
    return false;
  }
  file.Close();
  RemoveAbandonedTempFiles(path);
  return true;
}

// static
void ImportantFileWriter::SetTempFileCreatedHookForTesting(TempFileCreatedHook hook) {
  g_temp_file_created_hook.store(hook, std::memory_order_release);
}

// static
void ImportantFileWriter::SetPathBusyHookForTesting(PathBusyHook hook) {
  g_path_busy_hook.store(hook, std::memory_order_release);
}

// static
void ImportantFileWriter::SetRetryWaitHookForTesting(RetryWaitHook hook) {
  g_retry_wait_hook.store(hook, std::memory_order_release);
}

ImportantFileWriter::ImportantFileWriter(const FilePath& path, scoped_refptr<SequencedTaskRunner> task_runner)
    : ImportantFileWriter(path, std::move(task_runner), TimeDelta::FromMilliseconds(kDefaultCommitIntervalMs)) {}

ImportantFileWriter::ImportantFileWriter(const FilePath& path, scoped_refptr<SequencedTaskRunner> task_runner,
                                         TimeDelta commit_interval)
    : path_(path), task_runner_(std::move(task_runner)), commit_interval_(commit_interval) {
  DCHECK(task_runner_);
}

ImportantFileWriter::~ImportantFileWriter() {
  timer_.Stop();
}

bool ImportantFileWriter::HasPendingWrite() const {
  return timer_.IsRunning();
}

void ImportantFileWriter::WriteNow(std::unique_ptr<std::string> data) {
  DCHECK(data);
  if (data->size() > static_cast<size_t>(INT_MAX)) {
    LOG(ERROR) << "Dropping " << data->size() << " bytes meant for " << path_.value() << ": too large";
    return;
  }
  if (HasPendingWrite())
    timer_.Stop();
  PostWriteTask(Bind(&WriteScopedStringToFileAtomically, path_, std::move(*data)));
}

void ImportantFileWriter::ScheduleWrite(DataSerializer* serializer) {
  DCHECK(serializer);
  serializer_ = serializer;
  if (timer_.IsRunning())
    return;  // the first request's deadline holds
  timer_.Start(Location("base::ImportantFileWriter::ScheduleWrite", __FILE__, __LINE__, GetProgramCounter()),
               commit_interval_, Bind(&ImportantFileWriter::DoScheduledWrite, weak_factory_.GetWeakPtr()));
}

void ImportantFileWriter::DoScheduledWrite() {
  // Whatever the serializer answers, the batch ends here: a timer left running after a failed serialization
  // would later fire for a serializer that has been forgotten.
  timer_.Stop();
  DataSerializer* serializer = std::exchange(serializer_, nullptr);
  if (!serializer)
    return;
  auto data = std::make_unique<std::string>();
  if (serializer->SerializeData(data.get()))
    WriteNow(std::move(data));
  else
    LOG(WARNING) << "Failed to serialize data to be saved in " << path_.value();
}

void ImportantFileWriter::PostWriteTask(const Closure& task) {
  // The posted copy shares the bound data with `task`: when the runner refuses the post (it is shutting
  // down), the write runs here instead of being lost.
  if (!task_runner_->PostTask(
          Location("base::ImportantFileWriter::PostWriteTask", __FILE__, __LINE__, GetProgramCounter()), task)) {
    task.Run();
  }
}

}  // namespace base
