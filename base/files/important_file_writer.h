// ImportantFileWriter writes a file so that a crash or a power cut in the middle leaves either the old or the
// new content, never a mix: the bytes go to a temporary file beside the target, are flushed, and the
// temporary file then replaces the target in one rename. It also batches: callers ask for a write as often
// as they like, and the writer serializes and writes once when its commit delay has passed.
//
// Scheduling, the timer and serialization run on the owner's thread (which needs a task runner, see
// ThreadTaskRunnerHandle); the file work runs on the writer's sequenced task runner.
//
// Several writers of one file: within a process its writes are made one at a time, whichever writer (or direct
// call of WriteFileAtomically) makes them, so a second writer of a path shares the turns of the first rather than
// being refused (the installer reads its preferences through one store and writes them through another). Across
// processes each write holds its temporary file open from its creation until it has replaced the target, so
// that no other writer's sweep can take it, and a reader always finds one whole version of the file.
#ifndef BASE_FILES_IMPORTANT_FILE_WRITER_H_
#define BASE_FILES_IMPORTANT_FILE_WRITER_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/sequenced_task_runner.h"
#include "base/strings/string_piece.h"
#include "base/time/time.h"
#include "base/timer/timer.h"

namespace base {

class ImportantFileWriter {
 public:
  // The source of the bytes of a scheduled write.
  class DataSerializer {
   public:
    // Fills `data` with the whole file; false when there is nothing that may be written.
    virtual bool SerializeData(std::string* data) = 0;

   protected:
    virtual ~DataSerializer() = default;
  };

  static constexpr int64_t kDefaultCommitIntervalMs = 10000;

  // Writes `data` to `path` through a temporary file in the same folder. False on any failure, which is
  // counted in "ImportantFile.TempFileFailures"; the old target is then untouched and the temporary file is
  // gone. A reader that holds the target open delays the replacement for a while (about a second) before it
  // fails it. After a success, temporary files that earlier writes of the same target left behind (the writing
  // process died before its rename) are removed as well.
  static bool WriteFileAtomically(const FilePath& path, StringPiece data);

  ImportantFileWriter(const FilePath& path, scoped_refptr<SequencedTaskRunner> task_runner);
  ImportantFileWriter(const FilePath& path, scoped_refptr<SequencedTaskRunner> task_runner,
                      TimeDelta commit_interval);
  ImportantFileWriter(const ImportantFileWriter&) = delete;
  ImportantFileWriter& operator=(const ImportantFileWriter&) = delete;
  // Drops a scheduled write without writing it: owners commit first. Posted writes still complete.
  ~ImportantFileWriter();

  const FilePath& path() const { return path_; }
  TimeDelta commit_interval() const { return commit_interval_; }

  // True while a scheduled write waits for its commit delay.
  bool HasPendingWrite() const;

  // Posts the atomic write of `data` to the task runner (runs it here when the runner refuses it) and drops
  // any scheduled write. Data of 2^31 bytes or more is refused without writing.
  void WriteNow(std::unique_ptr<std::string> data);

  // Writes what `serializer` gives once the commit delay has passed since the first request of a batch;
  // later requests only replace the serializer (the first deadline holds). `serializer` must stay valid
  // until the write has been done or the writer is gone.
  void ScheduleWrite(DataSerializer* serializer);

  // Writes the scheduled data now (the timer's task, also called by owners that commit).
  void DoScheduledWrite();

  // Test seams, each cleared by null. Called on the writing thread with the path of each new temporary file,
  // before anything is written to it:
  using TempFileCreatedHook = void (*)(const FilePath& temp_file);
  static void SetTempFileCreatedHookForTesting(TempFileCreatedHook hook);
  // Called on the writing thread when a write of `path` has to wait for another write of it in this process:
  using PathBusyHook = void (*)(const FilePath& path);
  static void SetPathBusyHookForTesting(PathBusyHook hook);
  // Called in place of each pause before the replacement is tried again:
  using RetryWaitHook = void (*)(unsigned long milliseconds);
  static void SetRetryWaitHookForTesting(RetryWaitHook hook);

 private:
  void PostWriteTask(const Closure& task);

  const FilePath path_;
  const scoped_refptr<SequencedTaskRunner> task_runner_;
  Timer timer_{false, false};  // one-shot; forgets its task once it ran or stopped
  DataSerializer* serializer_ = nullptr;
  const TimeDelta commit_interval_;
  WeakPtrFactory<ImportantFileWriter> weak_factory_{this};
};

}  // namespace base

#endif  // BASE_FILES_IMPORTANT_FILE_WRITER_H_
