// The package fetcher from Start to "package ready": the update service's stand-in (package_fetcher_bench.sh
// starts the loopback server, named by the switch "internal-package-server" on this program's command line)
// names a 100 MiB package, which is downloaded, checked, probed and unpacked into the given download folder.
// Prints the best of three runs as a figure; package_fetcher_bench.sh sets it against curl + sha256sum +
// 7zz x -mmt1 of the same package. The last run's tree is copied to the given folder for comparison.
// Arguments: download folder, copy folder, then the switches.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/at_exit.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/stringprintf.h"
#include "base/values.h"
#include "bench/bench_util.h"
#include "desktop/launcher/installer/package_fetcher/package_fetcher.h"
#include "desktop/launcher/installer/records/installer_stats.h"
#include "desktop/launcher/installer/stats_sender.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"
#include "desktop/launcher/installer/wininet/ui_callback_runner.h"

namespace {

using zorvi::installer::PackageFetcher;

// The silent controller's part: no UI, and the run ends at a final status.
class Controller : public zorvi::installer::PackageFetcherDelegate, public zorvi::installer::UICallbackRunner {
 public:
  void SetTotalProgress(int) override {}
  void SetCurrentProgress(int) override {}
  void NotifyStalled() override {}
  void NotifyTrackingDataObtained(const std::string&) override {}
  void NotifyStatusChanged(int status) override {
    if (status >= zorvi::installer::kPackageReady) {
      final_status = status;
      quit.Run();
    }
  }
  void RunUICallbackAndPostReply(const UICallback&, const base::scoped_refptr<base::TaskRunner>& runner,
                                 const UIReply& reply) override {
    runner->PostTask(FROM_HERE, base::Bind(reply, 0u));
  }
  base::Closure quit;
  int final_status = -1;
};

// Where the last fetch's time went, from its statistics: milliseconds between its recorded steps.
std::string Phases(zorvi::installer::StatsSender* stats) {
  std::string json;
  stats->SerializeAsJson(&json);
  std::unique_ptr<base::Value> tree = base::JsonReader::Read(json);
  const base::DictionaryValue* root = nullptr;
  const base::ListValue* fetches = nullptr;
  const base::Value* last = nullptr;
  const base::DictionaryValue* fetch = nullptr;
  if (!tree || !tree->GetAsDictionary(&root) || !root->GetList(zorvi::installer::kFetchesStatsKey, &fetches) ||
      !fetches->Get(fetches->GetSize() - 1, &last) || !last->GetAsDictionary(&fetch)) {
    return "no statistics";
  }
  const char* const kSteps[] = {"start_time",         "download_start_time", "download_end_time",
                                "extract_start_time", "unpack_start_time",   "unpack_end_time",
                                "package_ready_time"};
  std::string phases;
  int previous = -1;
  for (const char* step : kSteps) {
    int elapsed = 0;
    fetch->GetInteger(std::string(step) + ".elapsed", &elapsed);
    if (previous >= 0)
      phases += base::StringPrintf("%s%s +%d ms", phases.empty() ? "" : ", ", step, elapsed - previous);
    previous = elapsed;
  }
  return phases;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 4) {
    fprintf(stderr, "usage: package_fetcher_bench DOWNLOAD_FOLDER COPY_FOLDER --internal-package-server=URL\n");
    return 2;
  }
  base::AtExitManager at_exit;
  base::CommandLine::Init();
  base::MessageLoop loop;
  Controller controller;
  zorvi::installer::StatsSender stats(&controller);
  const base::FilePath download_folder(argv[1]);
  const base::FilePath copy(argv[2]);
  int run = 0;
  double best = -1;
  const double all_runs = bench::BestSeconds(3, [&] {
    PackageFetcher fetcher(download_folder, stats.stats(), &controller, &controller);
    base::RunLoop run_loop;
    controller.quit = run_loop.QuitClosure();
    const double start = bench::NowSeconds();
    fetcher.Start();
    run_loop.Run();
    const double spent = bench::NowSeconds() - start;
    fprintf(stderr, "run %d: status %d after %.3f s; %s\n", ++run, controller.final_status, spent,
            Phases(&stats).c_str());
    best = best < 0 || spent < best ? spent : best;
    if (run == bench::Sized(3, 1) && !base::CopyDirectory(fetcher.unpack_folder(), copy, true))
      return false;
    return controller.final_status == zorvi::installer::kPackageReady;
  });
  bench::PrintFigure("start_to_ready", all_runs < 0 ? -1 : best, "s");
  return all_runs < 0;
}
