#include "testing/installer/settings_status_wait.h"

#include <windows.h>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/run_loop.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/settings.h"

namespace test_support {

namespace {

class PathWaiter : public zorvi::installer::Settings::Observer {
 public:
  explicit PathWaiter(base::RunLoop* run_loop) : run_loop_(run_loop) {}
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override { run_loop_->Quit(); }

 private:
  base::RunLoop* run_loop_;
};

}  // namespace

std::unique_ptr<zorvi::installer::Settings> SettingsAsTheEntryMakesThem(const base::CommandLine& command_line) {
  using namespace zorvi::installer;
  PrefsTaskPool::GetInstance();
  RegisterInstallerFeatures(base::FeatureList::GetInstance());
  base::FeatureList::GetInstance()->InitializeFromReader(base::CommandLineFeatureReader(&command_line));
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return nullptr;
  return std::make_unique<Settings>(command_line.HasSwitch(kUninstallSwitch), command_line.HasSwitch(kSilentSwitch),
                                    command_line.HasSwitch(kAutoupdateSwitch),
                                    command_line.GetSwitchValuePath(kInstallFolderSwitch),
                                    command_line.HasSwitch(kReplaceKadroInstallationSwitch));
}

void WaitForSettingsStatus(zorvi::installer::Settings* settings) {
  if (!settings->status_fetcher())
    return;
  base::RunLoop status_wait;
  PathWaiter waiter(&status_wait);
  settings->AddObserver(&waiter);
  status_wait.Run();
  settings->RemoveObserver(&waiter);
}

}  // namespace test_support
