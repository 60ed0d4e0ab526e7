// The downloader fetching a large file from the loopback test server that wininet_bench.sh started, into a file;
// prints the best wall time of several runs and the owner thread's CPU time in that run as figures, which
// wininet_bench.sh sets against curl fetching the same URL in the same run; and the best time of a bare synchronous
// WinINet loop that reads as many bytes per call as the downloader into a second file, which shows what the
// downloader adds to the reads themselves. Arguments: the URL, the output file, the bare loop's output file.
#include <windows.h>

#include <atomic>
#include <memory>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/location.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread.h"
#include "bench/bench_util.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"
#include "desktop/launcher/installer/wininet/ui_callback_runner.h"
#include "desktop/launcher/installer/wininet/wininet.h"
#include "desktop/launcher/installer/wininet/wininet_session.h"

namespace {

using zorvi::installer::Wininet;

// Takes the progress notifications, as the fetcher's proxy does.
class CountingDelegate : public zorvi::installer::PackageFetcherDelegate {
 public:
  void SetTotalProgress(int) override {}
  void SetCurrentProgress(int) override { ++calls; }
  void NotifyStalled() override {}
  void NotifyStatusChanged(int) override {}
  void NotifyTrackingDataObtained(const std::string&) override {}
  std::atomic<int> calls{0};
};

class NoUI : public zorvi::installer::UICallbackRunner {
 public:
  void RunUICallbackAndPostReply(const UICallback&, const base::scoped_refptr<base::TaskRunner>& runner,
                                 const UIReply& reply) override {
    runner->PostTask(FROM_HERE, base::Bind(reply, 0u));
  }
};

struct Run {
  Wininet* wininet;
  std::wstring url;
  base::FilePath output;
  base::WaitableEvent* done;
  bool started = false;
};

void Start(Run* run) {
  auto writer = std::make_unique<zorvi::installer::WininetFileResponseWriter>();
  run->started = writer->Open(run->output) &&
                 run->wininet->StartDownload(run->url, "", base::Bind(&base::WaitableEvent::Signal,
                                                                      base::Unretained(run->done)),
                                             std::move(writer), std::make_unique<zorvi::installer::WininetObserver>());
  if (!run->started)
    run->done->Signal();
}

void MakeOrDestroy(std::unique_ptr<Wininet>* wininet, NoUI* ui, CountingDelegate* delegate, base::WaitableEvent* done) {
  if (*wininet)
    wininet->reset();
  else
    *wininet = std::make_unique<Wininet>(ui, delegate);
  done->Signal();
}

double CpuSeconds(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user))
    return -1;
  auto seconds = [](const FILETIME& time) {
    return ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace

int main() {
  wchar_t** argv = bench::Arguments(3, "wininet_bench URL OUTPUT BARE_OUTPUT (wininet_bench.sh serves the URL)");
  if (!argv)
    return 2;
  NoUI ui;
  CountingDelegate delegate;
  base::Thread owner("Downloader owner");
  owner.StartWithOptions(base::Thread::Options(base::MessageLoop::TYPE_DEFAULT, 0));
  HANDLE owner_thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, owner.GetThreadId());
  std::unique_ptr<Wininet> wininet;
  base::WaitableEvent made(false, false);
  owner.task_runner()->PostTask(FROM_HERE, base::Bind(&MakeOrDestroy, &wininet, &ui, &delegate, &made));
  made.Wait();

  double best_cpu = 0;
  const double best = bench::BestSeconds(3, [&] {
    base::WaitableEvent done(false, false);
    Run run{wininet.get(), argv[1], base::FilePath(argv[2]), &done};
    const double cpu_before = CpuSeconds(owner_thread);
    owner.task_runner()->PostTask(FROM_HERE, base::Bind(&Start, &run));
    done.Wait();
    const double cpu = CpuSeconds(owner_thread) - cpu_before;
    best_cpu = best_cpu == 0 || cpu < best_cpu ? cpu : best_cpu;
    return run.started && wininet->state() == Wininet::kCompleted;
  });
  owner.task_runner()->PostTask(FROM_HERE, base::Bind(&MakeOrDestroy, &wininet, &ui, &delegate, &made));
  made.Wait();
  owner.Stop();
  CloseHandle(owner_thread);
  // The reference reads as many bytes per call as the downloader.
  const double bare = bench::BestSeconds(3, [&] {
    return bench::BareDownload(argv[1], argv[3], zorvi::installer::WininetSession::kReadBufferSize);
  });
  bench::PrintFigure("download", best, "s");
  bench::PrintFigure("bare_download", bare, "s");
  bench::PrintFigure("owner_cpu", best_cpu, "s");
  bench::PrintFigure("progress_calls", delegate.calls.load() / 3.0, "calls");
  return best < 0 || bare < 0;
}
