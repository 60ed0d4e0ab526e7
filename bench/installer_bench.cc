// The Installer on a package that installer_bench.sh made (3,000 small files in nested folders, their
// "files_list" and the launcher beside them): a copy-only install from Run to success, the Installer's end (the
// commit) included, against a bare CreateDirectoryW/CopyFileW loop over the same tree in the same run; then the
// interruption of such an install halfway through its files, from setting the interrupted event until
// OnInstallerTerminated, with the share of the rollback (from "Installation cancelled" to the report).
// Arguments: the package and an install folder (removed between runs).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "bench/bench_util.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/records/installer_observer.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/settings.h"

namespace {

using namespace zorvi::installer;

const int kRuns = bench::Sized(3, 1);

double g_cancelled_at = 0;

bool NoteCancellation(int severity, const char*, int, size_t message_start, const std::string& text) {
  if (text.compare(message_start, 22, "Installation cancelled") == 0)
    g_cancelled_at = bench::NowSeconds();
  // Only errors are shown, so that a failed run says why; the rest is not written: the benchmark measures the
  // installer, not its log.
  if (severity >= logging::LOG_ERROR)
    fputs(text.c_str(), stderr);
  return true;
}

// Quits the loop at the run's end; at `interrupt_at` steps sets the interrupted event and notes when.
class Watcher : public InstallerObserver {
 public:
  Watcher(base::RunLoop* run_loop, HANDLE interrupted, int interrupt_at)
      : run_loop_(run_loop), interrupted_(interrupted), interrupt_at_(interrupt_at) {}
  void OnInstallFolderReady() override {}
  void OnStartingNewMainProcess(bool) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int) override {}
  void OnStep() override {
    if (++steps_ == interrupt_at_) {
      interrupted_at_ = bench::NowSeconds();
      SetEvent(interrupted_);
    }
  }
  void OnInstallerError(int, const std::wstring&, const std::string&) override {}
  void OnInstallerSuccess() override {
    succeeded_ = true;
    run_loop_->Quit();
  }
  void OnInstallerTerminated(bool) override {
    terminated_at_ = bench::NowSeconds();
    run_loop_->Quit();
  }

  bool succeeded() const { return succeeded_; }
  double interrupted_at() const { return interrupted_at_; }
  double terminated_at() const { return terminated_at_; }

 private:
  base::RunLoop* run_loop_;
  HANDLE interrupted_;
  int interrupt_at_;
  int steps_ = 0;
  bool succeeded_ = false;
  double interrupted_at_ = 0;
  double terminated_at_ = 0;
};

// One copy-only install into `install` (absent before), with the Installer destroyed at the end.
bool Install(const base::FilePath& install, HANDLE interrupted, int interrupt_at, Watcher** result,
             std::unique_ptr<Watcher>* keep) {
  base::CommandLine::ForCurrentProcess()->ParseCommandLineString(L"installer.exe --copyonly=1 --installfolder=\"" +
                                                                 install.value() + L"\"");
  Settings settings(false, true, false, install, false);
  base::RunLoop status_wait;
  struct PathWaiter : Settings::Observer {
    base::RunLoop* loop;
    void OnSettingsChanged() override {}
    void OnLanguageChanged() override {}
    void OnPathChanged() override { loop->Quit(); }
  } waiter;
  waiter.loop = &status_wait;
  settings.AddObserver(&waiter);
  if (settings.status_fetcher())
    status_wait.Run();
  settings.RemoveObserver(&waiter);
  base::RunLoop run_loop;
  *keep = std::make_unique<Watcher>(&run_loop, interrupted, interrupt_at);
  *result = keep->get();
  {
    Installer installer;
    installer.AddObserver(keep->get());
    installer.Run(&settings);
    run_loop.Run();
  }
  return true;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  base::AtExitManager exit_manager;
  wchar_t** argv = bench::Arguments(2, "installer_bench PACKAGE INSTALL_FOLDER (installer_bench.sh makes the package)");
  if (!argv)
    return 2;
  const base::FilePath package(argv[1]);
  const base::FilePath install(argv[2]);
  std::vector<std::wstring> folders;
  std::vector<std::wstring> files;
  bench::ListTree(package.value(), L"", &folders, &files);
  files.erase(std::remove(files.begin(), files.end(), L"\\files_list"), files.end());

  base::MessageLoop loop;
  PrefsTaskPool::GetInstance();
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return 1;
  SetBrandingTextForTesting(R"({"company_name": "ZorviInstallerBench", "product_name": "Zorvi", )"
                            R"("file_name_base": "zorvi", "user_agent_name": "ZRV"})");
  logging::SetLogMessageHandler(NoteCancellation);
  if (!base::PathService::Override(base::kExeDir, package))
    return 1;
  HANDLE interrupted = CreateEventW(
      nullptr, TRUE, FALSE,
      GetInstallerKernelObjectName(install.value(), L"ZorviInstaller/InstallationInterrupted", true).c_str());

  double installed = 1e300;
  double bare = 1e300;
  for (int i = 0; i < kRuns; ++i) {
    for (const bool with_installer : {true, false}) {
      base::DeleteFile(install, true);
      Watcher* watcher = nullptr;
      std::unique_ptr<Watcher> keep;
      const double start = bench::NowSeconds();
      const bool ok = with_installer ? Install(install, interrupted, -1, &watcher, &keep) && watcher->succeeded()
                                     : bench::BareCopy(package.value(), install.value(), folders, files);
      const double spent = bench::NowSeconds() - start;
      if (!ok) {
        fprintf(stderr, "a copy failed\n");
        return 1;
      }
      (with_installer ? installed : bare) = std::min(with_installer ? installed : bare, spent);
    }
  }
  bench::Report("copy-only install of " + std::to_string(files.size()) + " files, committed", files.size() / installed,
                "files/s", "bare CreateDirectoryW/CopyFileW loop", files.size() / bare);
  bench::PrintFigure("install", installed, "s");

  const int interrupt_at = static_cast<int>(files.size() / 2);
  double latency = 1e300;
  double rollback = 0;
  for (int i = 0; i < kRuns; ++i) {
    base::DeleteFile(install, true);
    ResetEvent(interrupted);
    Watcher* watcher = nullptr;
    std::unique_ptr<Watcher> keep;
    g_cancelled_at = 0;
    Install(install, interrupted, interrupt_at, &watcher, &keep);
    if (watcher->succeeded() || watcher->terminated_at() == 0 || g_cancelled_at == 0) {
      fprintf(stderr, "the interrupted install did not end as cancelled\n");
      return 1;
    }
    const double spent = watcher->terminated_at() - watcher->interrupted_at();
    if (spent < latency) {
      latency = spent;
      rollback = watcher->terminated_at() - g_cancelled_at;
    }
  }
  printf("interruption at step %d until OnInstallerTerminated: %.1f ms, of which the rollback of the copies %.1f ms "
         "(%.0f%%)\n",
         interrupt_at, latency * 1e3, rollback * 1e3, latency > 0 ? 100 * rollback / latency : 0.0);
  // What the rollback undoes at the least: the deletion of as many copied files by a bare loop.
  const double bare_delete = bench::BestSeconds(
      kRuns,
      [&] {
        base::DeleteFile(install, true);
        bench::BareCopy(package.value(), install.value(), folders, files);
      },
      [&] {
        bool ok = true;
        for (int i = 0; i < interrupt_at; ++i)
          ok = ok && DeleteFileW((install.value() + files[i]).c_str());
        return ok;
      });
  bench::Report("interruption halfway until OnInstallerTerminated", latency, "s",
                "bare DeleteFileW loop over as many copied files", bare_delete, bench::Better::kLower);
  base::DeleteFile(install, true);
  CoUninitialize();
  return 0;
}
