#include "base/files/important_file_writer.h"

#include <windows.h>

#include <atomic>
#include <climits>
#include <utility>

#include "base/bind.h"
#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/metrics/histogram.h"
#include "base/strings/stringprintf.h"

namespace base {
namespace {

// Samples of "ImportantFile.TempFileFailures": the step of the atomic write that failed.
enum TempFileFailure {
  kFailedCreating = 0,
  kFailedOpening = 1,
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

// Creates a new, empty, uniquely named temporary file beside `target`. Beside a target whose path is within a
// temporary name's length of the system's limit on paths (MAX_PATH), that name could never be made: the file is
// then named "~0A1B2C3D.tmp" in the same folder, which a later write cannot tell from another target's and leaves
// should its process die before the rename.
bool CreateTempFileBeside(const FilePath& target, FilePath* temp_file) {
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
    File file(candidate, FileFlags::Create | FileFlags::Write);
    if (file.IsValid()) {
      *temp_file = candidate;
      return true;
    }
    if (file.error_details() != FileError::Exists)
      return false;
  }
  return false;
}

// Removes the temporary files of earlier writes of `target` whose processes died before their rename. A
// temporary file that a live writer holds open cannot be deleted and stays.
void RemoveAbandonedTempFiles(const FilePath& target) {
  const std::wstring target_name = target.BaseName().value();
  FileEnumerator enumerator(target.DirName(), false, FileEnumerator::FILES,
                            target_name + kTempNameSeparator + L"*" + kTempNameExtension);
  for (FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    if (IsTempFileNameOf(target_name, enumerator.GetInfo().GetName().value()))
      DeleteFile(path, false);
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

  FilePath temp_file;
  if (!CreateTempFileBeside(path, &temp_file)) {
    RecordTempFileFailure(kFailedCreating);
    LOG(WARNING) << "Failed to create a temporary file to update " << path.value();
    return false;
  }
  if (TempFileCreatedHook hook = g_temp_file_created_hook.load(std::memory_order_acquire))
    hook(temp_file);

  File file(temp_file, FileFlags::Open | FileFlags::Write);
  if (!file.IsValid()) {
    RecordTempFileFailure(kFailedOpening);
    LOG(WARNING) << "Failed to open temporary file " << temp_file.value() << " to update " << path.value();
    DeleteFile(temp_file, false);  // the empty file must not stay behind
    return false;
  }
  const int bytes_written = size > 0 ? file.Write(0, data.data(), size) : 0;
  const bool flushed = file.Flush();
  file.Close();

  if (bytes_written < size) {
    RecordTempFileFailure(kFailedWriting);
    LOG(WARNING) << "Failed to write " << size << " bytes to temporary file to update " << path.value();
    DeleteFile(temp_file, false);
    return false;
  }
  if (!flushed) {
    RecordTempFileFailure(kFailedFlushing);
    LOG(WARNING) << "Failed to flush temporary file to update " << path.value();
    DeleteFile(temp_file, false);
    return false;
  }
  // One rename that replaces the target: atomic within a volume. The system's replace function is not: it
  // may move the target out of the way before moving the new file in, and a crash in between loses both.
  if (!MovePath(temp_file, path)) {
    RecordTempFileFailure(kFailedRenaming);
    LOG(WARNING) << "Failed to replace " << path.value() << " with " << temp_file.value() << ": system error "
                 << ::GetLastError();
    DeleteFile(temp_file, false);
    return false;
  }
  RemoveAbandonedTempFiles(path);
  return true;
}

// static
void ImportantFileWriter::SetTempFileCreatedHookForTesting(TempFileCreatedHook hook) {
  g_temp_file_created_hook.store(hook, std::memory_order_release);
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
