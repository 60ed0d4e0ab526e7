#include "testing/settings_status_wait.h"

#include "base/run_loop.h"
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
