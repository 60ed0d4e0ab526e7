#include "desktop/launcher/installer/installer_runner.h"

#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/win/scoped_local_memory.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/ipc/installer_message.h"
#include "desktop/launcher/installer/roles/folder_permission.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/inherited_handle.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/windows/crash_reporter/client/crash_client_startup.h"

namespace zorvi::installer {

const char kBackendEndedWithoutResultMessage[] = "The installer process ended without a result";

namespace {

constexpr wchar_t kInstallerMutexBase[] = L"Zorvi/Installer";
constexpr wchar_t kFolderMutexBase[] = L"Zorvi/InstallerFolder";

// One of the installation's manual-reset events, unset. An earlier run's backend may still hold the event,
// set by its own controller; this run must not take that for its own package or interruption.
HANDLE CreateUnsetEvent(const std::wstring& name, SECURITY_ATTRIBUTES* attributes = nullptr) {
  HANDLE event = CreateEventW(attributes, TRUE, FALSE, name.c_str());
  if (event && GetLastError() == ERROR_ALREADY_EXISTS)
    ResetEvent(event);
  return event;
}

// The folder as the file system tells folders apart: absolute, without "." and "..", repeated or trailing
// separators, in upper case.
std::wstring FolderIdentity(const base::FilePath& folder) {
  const base::FilePath full = base::MakeAbsoluteFilePath(folder);
  const std::wstring path = (full.empty() ? folder : full).StripTrailingSeparators().value();
  std::wstring identity;
  for (wchar_t c : path) {
    // A server path's leading pair stays.
    if (base::FilePath::IsSeparator(c) && identity.size() > 1 && identity.back() == L'\\')
      continue;
    identity += base::FilePath::IsSeparator(c) ? L'\\' : c;
  }
  const int size = static_cast<int>(identity.size());
  std::wstring upper(identity.size(), L'\0');
  if (size > 0 && LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, identity.data(), size, upper.data(), size,
                                nullptr, nullptr, 0) == size) {
    return upper;
  }
  return identity;
}

}  // namespace

InstallerRunner::InstallerRunner(const base::FilePath& package_folder)
    : receiver_proxy_(this), package_folder_(package_folder) {
  observers_.AddObserver(&outcome_);
}

InstallerRunner::~InstallerRunner() {
  Stop();
}

void InstallerRunner::AddObserver(InstallerObserver* observer) {
  observers_.AddObserver(observer);
}

void InstallerRunner::RemoveObserver(InstallerObserver* observer) {
  observers_.RemoveObserver(observer);
}

bool InstallerRunner::Run(Settings* settings) {
  if (settings == settings_)
    LOG(INFO) << "Duplicate installation attempt detected";
  LOG(INFO) << "Beginning installation";
  CHECK(!settings_) << "An installation is already running";
  CHECK(!settings->status_fetcher()) << "The settings are still waiting for their status";
  CHECK(!backend_running_) << "A backend is still running";

  if (settings->operation() == Settings::kOperationNone)
    return Fail(kInstallerErrorNoOperation, "Attempting to start installation with invalid settings");
  settings->set_editable(false);
  settings_ = settings;
  outcome_.Reset();
  listening_ = false;
  const base::FilePath& install_folder = settings->status().path;

  if (!AcquireMutex(install_folder))
    return false;

  const std::wstring mailslot_name = GetInstallerMailslotName(install_folder);
  VLOG(1) << "Installer mailslot name: " << mailslot_name;
  if (!receiver_proxy_.Connect(mailslot_name))
    return Fail(kInstallerErrorGeneric, "Could not connect to mailslot");
  listening_ = receiver_proxy_.listening();
  if (!listening_)
    LOG(WARNING) << "Nothing the backend sends can be received: only its exit code will tell how the run ended";

  base::CommandLine command_line = settings->ToCommandLine(false);
  command_line.AppendSwitchFilePath(kServerTrackingDataSwitch, base::FilePath(kServerTrackingDataFileName));
  command_line.AppendSwitchASCII(kInitialPidSwitch, std::to_string(GetCurrentProcessId()));
  command_line.AppendSwitchASCII(kCrashReporterPidSwitch, std::to_string(GetCrashReporterProcessId()));

  const std::wstring interrupted_name =
      GetInstallerKernelObjectName(install_folder.value(), kInstallationInterruptedEventBase, true);
  VLOG(1) << "Event name for interrupted installation: " << interrupted_name;
  interrupted_event_.Set(CreateUnsetEvent(interrupted_name));
  if (!interrupted_event_.IsValid())
    return Fail(kInstallerErrorGeneric, "Could not create installation interruption event");

  const std::wstring ready_name = GetInstallerKernelObjectName(install_folder.value(), kPackageReadyEventBase, true);
  VLOG(1) << "Event name for package_ready: " << ready_name;
  // The backend hands over to the package only as its own when the event's owner has its rights: the owner is
  // named, as Windows would give it, since wine gives an event made without a descriptor none.
  base::win::ScopedLocalMemory<> descriptor;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  if (MakeOwnOwnerDescriptor(&descriptor))
    attributes.lpSecurityDescriptor = descriptor.Get();
  package_ready_event_.Set(CreateUnsetEvent(ready_name, &attributes));
  if (!package_ready_event_.IsValid())
    return Fail(kInstallerErrorGeneric, "Could not create package ready event");
  base::FilePath own_executable;
  base::PathService::Get(base::kExeFile, &own_executable);
  if (package_ready_) {
    VLOG(1) << "Package is already available";
    // Set for the backend's elevated run, which starts from this run's installer and waits for the package: the
    // event's owner then decides whether the folder may be used as it is.
    SetEvent(package_ready_event_.Get());
    // The process that unpacked the package holds its installer, which is thus what was unpacked.
    command_line.SetProgram(package_folder_.Append(kPackageInstallerFileName));
    if (base::FilePath::CompareIgnoreCase(command_line.GetProgram().value(), own_executable.value()) != 0)
      command_line.AppendSwitchFilePath(kRunnerInstallerSwitch, own_executable);
  } else {
    // The installer run holds its own file (own_executable.h), so the file started by its path is this one.
    command_line.SetProgram(own_executable);
    command_line.AppendSwitchFilePath(kWaitForPackageSwitch, package_folder_);
  }
  if (const PackageFileUseHook hook = GetPackageFileUseHook())
    hook(command_line.GetProgram());

  if (const char* error = LaunchBackend(&command_line))
    return Fail(kInstallerErrorGeneric, error);
  backend_running_ = true;
  AllowSetForegroundWindow(backend_.Pid());
  VLOG(2) << "Installer backend started.";
  if (!backend_watcher_.StartWatchingOnce(backend_.Handle(), this)) {
    const bool result = Fail(kInstallerErrorGeneric, "Could not monitor the installer process handle");
    Stop();
    return result;
  }
  return true;
}

bool InstallerRunner::AcquireMutex(const base::FilePath& install_folder) {
  // Kernel object names are compared exactly, folder names are not: one folder spelled two ways ("c:\zorvi",
  // "C:\\Zorvi") would get two mutexes, and two backends would work on it at once. The second mutex, named after
  // the folder's identity, keeps such runs apart; the first, named as the folder is spelled, is the one earlier
  // installers take.
  const std::wstring names[kMutexCount] = {
      GetInstallerKernelObjectName(install_folder.value(), kInstallerMutexBase, true),
      GetInstallerKernelObjectName(FolderIdentity(install_folder), kFolderMutexBase, true)};
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, TRUE};
  for (int i = 0; i < kMutexCount; ++i) {
    VLOG(1) << "Installer mutex name: " << names[i];
    mutexes_[i].Set(CreateMutexW(&attributes, FALSE, names[i].c_str()));
    if (!mutexes_[i].IsValid()) {
      LetGoOfMutexes();
      return Fail(kInstallerErrorMutexHeld, "Could not create installer mutex");
    }
    // A mutex whose owner ended without releasing it (a backend's runner that was stopped) is ours now.
    const DWORD wait = WaitForSingleObject(mutexes_[i].Get(), 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
      mutexes_[i].Close();
      LetGoOfMutexes();
      return Fail(kInstallerErrorMutexHeld, "Could not acquire installer mutex");
    }
  }
  return true;
}

void InstallerRunner::LetGoOfMutexes() {
  for (base::win::ScopedHandle& mutex : mutexes_) {
    if (!mutex.IsValid())
      continue;
    // A running backend holds the mutexes too, through the handles it inherited.
    if (!backend_running_)
      ReleaseMutex(mutex.Get());
    mutex.Close();
  }
}

const char* InstallerRunner::LaunchBackend(base::CommandLine* command_line) {
  base::AutoLock launch_lock(base::GetProcessLaunchLock());
  // The backend watches this process through the handle named on its command line; it may only wait on it.
  HANDLE raw_own_process = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &raw_own_process, SYNCHRONIZE,
                       TRUE, 0)) {
    return "Could not duplicate own process handle";
  }
  // The backend inherits its own copy; this one goes when the launch is done.
  const base::win::ScopedHandle own_process(raw_own_process);
  command_line->AppendSwitchASCII(kInitialProcHandleSwitch, InheritedHandleSwitchValue(own_process.Get()));
  LOG(INFO) << "launching installer backend: " << command_line->GetCommandLineString();
  // The backend also holds the installer mutexes: a Stop closes the runner's handles while the backend runs, and
  // the last handle's close would end a mutex, leaving the folder unlocked for another installation.
  std::vector<HANDLE> inherited = {own_process.Get(), mutexes_[0].Get(), mutexes_[1].Get()};
  if (shared_with_backend_)
    inherited.push_back(shared_with_backend_);
  base::LaunchOptions options;
  options.handles_to_inherit = &inherited;
  backend_ = base::LaunchProcess(*command_line, options);
  return backend_.IsValid() ? nullptr : "Could not launch installer backend process";
}

bool InstallerRunner::Fail(int code, const char* message) {
  LOG(ERROR) << message;
  if (observers_.might_have_observers()) {
    observers_.ForEach(
        [code, message](InstallerObserver* observer) { observer->OnInstallerError(code, std::wstring(), message); });
  }
  return false;
}

void InstallerRunner::Stop() {
  LOG(INFO) << "Stopping installer backend (if running)";
  if (backend_running_ && interrupted_event_.IsValid()) {
    VLOG(1) << "Sending installation interrupted event";
    SetEvent(interrupted_event_.Get());
  }
  if (mutexes_[0].IsValid())
    VLOG(1) << "Letting go of the installer mutex";
  LetGoOfMutexes();
  package_ready_event_.Close();
  // An installer process of the run that opens the event only now (the package's installer that the backend is
  // starting) must still find it set: it lives as long as the backend.
  if (!backend_running_)
    interrupted_event_.Close();
  receiver_proxy_.Close();
  settings_ = nullptr;
}

void InstallerRunner::OnPackageReady() {
  if (package_ready_)
    return;
  VLOG(2) << "Recording that we have the package";
  package_ready_ = true;
  if (backend_running_ && package_ready_event_.IsValid()) {
    LOG(INFO) << "Informing the installer backend that the package is ready";
    SetEvent(package_ready_event_.Get());
  }
}

void InstallerRunner::WithdrawPackage() {
  if (!package_ready_ || backend_running_)
    return;
  VLOG(2) << "The package is being completed again";
  package_ready_ = false;
}

void InstallerRunner::OnObjectSignaled(HANDLE) {
  VLOG(1) << "Installer backend process signaled";
  DWORD exit_code = 1;
  const bool exited_with_zero = GetExitCodeProcess(backend_.Handle(), &exit_code) && exit_code == 0;
  backend_running_ = false;
  // A stopped run kept the interruption for the backend's other installer processes, which have ended with it.
  if (!settings_)
    interrupted_event_.Close();
  // The backend's last datagrams may still wait in the mailslot: they come first.
  receiver_proxy_.DeliverWaitingMessagesThen(
      base::Bind(&InstallerRunner::ReportTermination, weak_factory_.GetWeakPtr(), exited_with_zero));
}

void InstallerRunner::ReportTermination(bool exited_with_zero) {
  // A killed or crashed backend may leave exit code 0 (wine reports 0 for a killed process; so does
  // TerminateProcess with 0), so the exit code alone proves nothing: the backend must also have said SUCCESS.
  bool success = exited_with_zero;
  if (listening_) {
    success = exited_with_zero && outcome_.word() == OutcomeRecorder::kSuccess;
    // A run that was stopped is over for its controller already; one still wanted learns why it failed.
    if (outcome_.word() == OutcomeRecorder::kNone && settings_) {
      LOG(ERROR) << kBackendEndedWithoutResultMessage;
      observers_.ForEach([](InstallerObserver* observer) {
        observer->OnInstallerError(kInstallerErrorGeneric, std::wstring(), kBackendEndedWithoutResultMessage);
      });
    }
  }
  if (observers_.might_have_observers())
    observers_.ForEach([success](InstallerObserver* observer) { observer->OnInstallerTerminated(success); });
}

void InstallerRunner::OnMessageReceived(const base::PackedBuffer& message) {
  DispatchInstallerMessage(message, &observers_);
}

}  // namespace zorvi::installer
