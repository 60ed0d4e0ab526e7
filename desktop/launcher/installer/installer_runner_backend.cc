#include "desktop/launcher/installer/installer_runner_backend.h"

#include <utility>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/ipc/installer_message.h"
#include "desktop/launcher/installer/service/inherited_handle.h"
#include "desktop/launcher/installer/status.h"

namespace zorvi::installer {
namespace {

InstallerRunnerBackend::InstallationFactory& InstallationFactoryForTesting() {
  static InstallerRunnerBackend::InstallationFactory factory;
  return factory;
}

// The product's installation: the Installer, behind the backend's interface.
class InstallerInstallation : public InstallerRunnerBackend::Installation {
 public:
  void AddObserver(InstallerObserver* observer) override { installer_.AddObserver(observer); }
  void RemoveObserver(InstallerObserver* observer) override { installer_.RemoveObserver(observer); }
  void Run(Settings* settings) override { installer_.Run(settings); }
  bool succeeded() const override { return installer_.succeeded(); }

 private:
  Installer installer_;
};

std::unique_ptr<InstallerRunnerBackend::Installation> CreateInstallation() {
  if (InstallationFactoryForTesting())
    return InstallationFactoryForTesting()();
  return std::make_unique<InstallerInstallation>();
}

}  // namespace

void InstallerRunnerBackend::SetInstallationFactoryForTesting(InstallationFactory factory) {
  InstallationFactoryForTesting() = std::move(factory);
}

InstallerRunnerBackend::InstallerRunnerBackend() : installation_(CreateInstallation()) {}

InstallerRunnerBackend::~InstallerRunnerBackend() = default;

bool InstallerRunnerBackend::Run(Settings* settings) {
  settings_ = settings;
  if (!OpenInitialProcess())
    return false;
  if (!initial_process_watcher_.StartWatchingOnce(initial_process_.Get(), this)) {
    LOG(ERROR) << "Failed watching initial process";
    return false;
  }
  installation_->AddObserver(this);
  if (settings->status_fetcher()) {
    VLOG(1) << "Waiting for settings to be ready";
    settings->AddObserver(this);
  } else {
    VLOG(1) << "Settings already obtained. Running.";
    StartInstallation();
  }
  run_loop_.Run();
  LOG(INFO) << "Installer backend exiting";
  installation_->RemoveObserver(this);
  return installation_->succeeded();
}

bool InstallerRunnerBackend::OpenInitialProcess() {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(kInitialProcHandleSwitch)) {
    const std::string value = base::WideToUTF8(command_line.GetSwitchValueNative(kInitialProcHandleSwitch));
    VLOG(1) << "Using initial process handle " << value;
    HANDLE handle = nullptr;
    if (!ParseInheritedHandleSwitchValue(command_line.GetSwitchValueNative(kInitialProcHandleSwitch), &handle)) {
      LOG(ERROR) << "Failed parsing initial process handle";
      return false;
    }
    initial_process_.Set(handle);
    return true;
  }
  if (command_line.HasSwitch(kInitialPidSwitch)) {
    const std::wstring value = command_line.GetSwitchValueNative(kInitialPidSwitch);
    VLOG(1) << "Using initial pid " << value;
    unsigned pid = 0;
    if (!base::StringToUint(value, &pid)) {
      LOG(ERROR) << "Failed parsing initial pid";
      return false;
    }
    initial_process_.Set(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!initial_process_.IsValid()) {
      PLOG(ERROR) << "Failed opening initial process";
      return false;
    }
    return true;
  }
  LOG(ERROR) << "Missing information about initial process";
  return false;
}

void InstallerRunnerBackend::OnPathChanged() {
  LOG(INFO) << "Settings obtained. Running.";
  settings_->RemoveObserver(this);
  StartInstallation();
}

void InstallerRunnerBackend::StartInstallation() {
  VLOG(2) << "Starting installation";
  // Messages sent from now on queue behind the opening of the mailslot on the IPC thread.
  sender_.Connect(GetInstallerMailslotName(settings_->status().path));
  installation_->Run(settings_);
}

void InstallerRunnerBackend::Send(std::unique_ptr<base::PackedBuffer> message) {
  sender_.Send(std::move(message));
}

void InstallerRunnerBackend::OnInstallFolderReady() {
  Send(NewInstallerMessage(IPC_MESSAGE_INSTALL_FOLDER_READY));
}

void InstallerRunnerBackend::OnStartingNewMainProcess(bool flag) {
  VLOG(1) << "Sending IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << flag << ")";
  std::unique_ptr<base::PackedBuffer> message = NewInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  message->WriteInt(flag ? 1 : 0);
  Send(std::move(message));
  // The child about to start writes into the same mailslot: the runner must read this announcement first.
  sender_.Flush();
}

void InstallerRunnerBackend::OnReturnedToPreviousMainProcess() {
  VLOG(1) << "Sending IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS";
  Send(NewInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS));
}

void InstallerRunnerBackend::OnTotalSteps(int steps) {
  VLOG(1) << "Sending IPC_MESSAGE_TOTAL_STEPS(" << steps << ")";
  std::unique_ptr<base::PackedBuffer> message = NewInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
  message->WriteInt(steps);
  Send(std::move(message));
}

void InstallerRunnerBackend::OnStep() {
  VLOG(1) << "Sending IPC_MESSAGE_STEP";
  Send(NewInstallerMessage(IPC_MESSAGE_STEP));
}

void InstallerRunnerBackend::OnInstallerError(int code, const std::wstring& detail, const std::string& message) {
  VLOG(1) << "Sending IPC_MESSAGE_ERROR(" << code << "," << detail << "," << message << ")";
  Send(NewInstallerErrorMessage(code, detail, message));
  run_loop_.Quit();
}

void InstallerRunnerBackend::OnInstallerSuccess() {
  VLOG(1) << "Sending IPC_MESSAGE_SUCCESS";
  Send(NewInstallerMessage(IPC_MESSAGE_SUCCESS));
  run_loop_.Quit();
}

void InstallerRunnerBackend::OnInstallerTerminated(bool success) {
  VLOG(1) << "Installation is done: " << success;
  run_loop_.Quit();
}

void InstallerRunnerBackend::OnObjectSignaled(HANDLE) {
  VLOG(1) << "Installer UI process ended";
  run_loop_.Quit();
}

}  // namespace zorvi::installer
