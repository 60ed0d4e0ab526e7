// Latency of the preference file's writes and reads, 1 MiB each, against the same bytes written and read with
// plain system calls in the same run:
//   WriteNow      the writer's posted atomic write on a pool sequence, until the write has finished;
//   atomic write  the same write called directly on this thread;
//   reference     create, write, flush, close and one rename over the target, with the system calls alone;
//   store read    a preference store's read (file, parse, classification) of the written file;
//   file read     the whole file into memory through the file layer;
//   reference     the whole file into memory with the system calls alone.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/important_file_writer.h"
#include "base/message_loop/message_loop.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/sequenced_worker_pool.h"
#include "bench/bench_util.h"
#include "components/prefs/json_pref_store.h"

namespace {

const size_t kFileSize = bench::Sized(1024 * 1024, 64 * 1024);

// A preference dictionary of about kFileSize bytes: many keys with strings, numbers and nested objects.
std::string MakePreferences() {
  std::string json = "{";
  for (int i = 0; json.size() < kFileSize - 200; ++i) {
    if (i)
      json += ',';
    json += "\"pref" + std::to_string(i) + "\":{\"name\":\"value number " + std::to_string(i) +
            "\",\"count\":" + std::to_string(i * 7919) + ",\"enabled\":" + (i % 2 ? "true" : "false") + "}";
  }
  json += "}";
  json.resize(std::min(json.size(), kFileSize));
  return json;
}

bool PlainWriteAndRename(const std::wstring& temp, const std::wstring& target, const std::string& data) {
  HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                  written == data.size() && ::FlushFileBuffers(file);
  ::CloseHandle(file);
  return ok && ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool PlainRead(const std::wstring& path, std::string* data) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  LARGE_INTEGER size;
  bool ok = ::GetFileSizeEx(file, &size);
  if (ok) {
    data->resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = ::ReadFile(file, data->data(), static_cast<DWORD>(data->size()), &read, nullptr) && read == data->size();
  }
  ::CloseHandle(file);
  return ok;
}

// The per-call latency in milliseconds of each body, measured in turns over a few rounds so that they see the
// same machine load; each body's best round counts.
std::vector<double> BestLatencies(const std::vector<std::function<void()>>& bodies) {
  const int kRounds = bench::Sized(5, 1);
  std::vector<double> best(bodies.size(), 1e300);
  for (int round = 0; round < kRounds; ++round) {
    for (size_t i = 0; i < bodies.size(); ++i)
      best[i] = std::min(best[i], 1000.0 / bench::Rate(bodies[i], 1.0, 0.4));
  }
  return best;
}

}  // namespace

int main() {
  base::MessageLoop loop;  // the pool belongs to this thread
  base::FilePath temp_dir;
  if (!base::GetTempDir(&temp_dir))
    return 1;
  const base::FilePath dir = temp_dir.Append(L"important_file_bench_" + std::to_wstring(::GetCurrentProcessId()));
  if (!base::CreateDirectory(dir))
    return 1;
  const base::FilePath target = dir.Append(L"prefs.json");
  const std::wstring reference = dir.Append(L"reference.json").value();
  const std::wstring reference_temp = dir.Append(L"reference.tmp").value();
  const std::string data = MakePreferences();

  base::scoped_refptr<base::SequencedWorkerPool> pool =
      base::MakeRefCounted<base::SequencedWorkerPool>(1, "BenchPool");
  base::scoped_refptr<base::SequencedTaskRunner> runner = JsonPrefStore::GetTaskRunnerForFile(target, pool.get());
  auto writer = std::make_unique<base::ImportantFileWriter>(target, runner);
  base::WaitableEvent written(false, false);

  bool ok = true;
  const std::vector<double> writes = BestLatencies({
      [&] {
        writer->WriteNow(std::make_unique<std::string>(data));
        runner->PostTask(FROM_HERE, base::Bind(&base::WaitableEvent::Signal, base::Unretained(&written)));
        written.Wait();
      },
      [&] { ok &= base::ImportantFileWriter::WriteFileAtomically(target, data); },
      [&] { ok &= PlainWriteAndRename(reference_temp, reference, data); },
  });

  std::string bytes;
  const std::vector<double> reads = BestLatencies({
      [&] {
        base::scoped_refptr<JsonPrefStore> store = base::MakeRefCounted<JsonPrefStore>(target, runner);
        ok &= store->ReadPrefs() == PersistentPrefStore::kPrefReadErrorNone;
      },
      [&] { ok &= base::ReadFileToString(target, &bytes) && bytes.size() == data.size(); },
      [&] { ok &= PlainRead(reference, &bytes) && bytes.size() == data.size(); },
  });

  writer.reset();
  pool->Shutdown(0);
  runner = nullptr;
  pool = nullptr;
  base::DeleteFile(dir, true);
  if (!ok) {
    std::printf("a write or read failed\n");
    return 1;
  }
  std::printf("1 MiB preference file (%zu bytes), best of 5 rounds\n", data.size());
  bench::Report("WriteNow until written", writes[0], "ms", "plain write+flush+rename", writes[2],
                bench::Better::kLower);
  bench::Report("atomic write (direct)", writes[1], "ms", "plain write+flush+rename", writes[2],
                bench::Better::kLower);
  bench::Report("store read (read+parse)", reads[0], "ms", "plain read", reads[2], bench::Better::kLower);
  bench::Report("file read (file layer)", reads[1], "ms", "plain read", reads[2], bench::Better::kLower);
  return 0;
}
