// Records every InstallerObserver call in order, each as one line of JSON:
//   {"call":"OnInstallFolderReady"}
//   {"call":"OnStartingNewMainProcess","flag":true}
//   {"call":"OnReturnedToPreviousMainProcess"}
//   {"call":"OnTotalSteps","steps":12}
//   {"call":"OnStep"}
//   {"call":"OnInstallerError","code":37057,"detail":"C:\\x","message":"copy failed"}
//   {"call":"OnInstallerSuccess"}
//   {"call":"OnInstallerTerminated","success":true}
// Texts are UTF-8 with JSON escapes, so Python's json reads the lines back exactly. With a log file, each line
// is appended and flushed as it is made, so a process that is killed leaves every call it saw.
#ifndef TESTING_INSTALLER_INSTALLER_OBSERVER_RECORDER_H_
#define TESTING_INSTALLER_INSTALLER_OBSERVER_RECORDER_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "desktop/launcher/installer/records/installer_observer.h"

namespace test_support {

class InstallerObserverRecorder : public zorvi::installer::InstallerObserver {
 public:
  InstallerObserverRecorder() = default;
  ~InstallerObserverRecorder() override;
  InstallerObserverRecorder(const InstallerObserverRecorder&) = delete;
  InstallerObserverRecorder& operator=(const InstallerObserverRecorder&) = delete;

  // Appends every later line to `path` too (created when missing). False when it cannot be opened.
  bool AppendToFile(const std::wstring& path);
  // Runs after each call is recorded, with the line and the number of calls so far (scenario switches act on
  // the n-th call this way).
  void set_after_call(std::function<void(const std::string& line, size_t count)> after_call) {
    after_call_ = std::move(after_call);
  }

  const std::vector<std::string>& lines() const { return lines_; }

  // The lines of each call, as the recorder writes them.
  static std::string TerminatedLine(bool success);
  static std::string ErrorLine(int code, const std::wstring& detail, const std::string& message);
  static std::string TotalStepsLine(int steps);
  static std::string StartingNewMainProcessLine(bool flag);
  static std::string SimpleLine(const char* call);

  // zorvi::installer::InstallerObserver:
  void OnInstallFolderReady() override;
  void OnStartingNewMainProcess(bool flag) override;
  void OnReturnedToPreviousMainProcess() override;
  void OnTotalSteps(int steps) override;
  void OnStep() override;
  void OnInstallerError(int code, const std::wstring& detail, const std::string& message) override;
  void OnInstallerSuccess() override;
  void OnInstallerTerminated(bool success) override;

 private:
  void Record(const std::string& line);

  std::vector<std::string> lines_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::function<void(const std::string&, size_t)> after_call_;
};

// `text` (UTF-8) as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);
// UTF-16 to UTF-8 with the system's converter (no product code involved).
std::string WideToUtf8ForTest(const std::wstring& wide);

}  // namespace test_support

#endif  // TESTING_INSTALLER_INSTALLER_OBSERVER_RECORDER_H_
