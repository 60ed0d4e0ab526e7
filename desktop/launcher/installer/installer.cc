#include "desktop/launcher/installer/installer.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/values.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/roles/folder_permission.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/task_scheduler.h"
#include "desktop/launcher/installer/service/transactions/create_folder_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"
#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"
#include "desktop/launcher/installer/service/transactions/registry_entry.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/service/xml_document.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"

namespace zorvi::installer {

namespace {

// A new installation's id, claimed for the run: this base, "/", the id.
constexpr wchar_t kApplicationIdClaimBase[] = L"ZorviInstaller/ApplicationId";

// Read, write and execute on a folder: what installing into it needs.
constexpr DWORD kFolderReadWriteExecute = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE;

// The folder of the last installation, where the next installer offers to install.
const RegistryEntry kSetLastInstallPathRegOp = {
    L"{CompanyRegistryKey}", L"Last {Stream} Install Path", REG_SZ, reinterpret_cast<uintptr_t>(L"{InstallFolder}\\"),
    0, nullptr, 0, 0, nullptr};

// A list file of the package: one relative path (UTF-8) a line; blank lines are no entries, but blanks inside
// a name are kept.
bool ReadListFile(const base::FilePath& path, std::vector<std::string>* entries) {
  std::string text;
  if (!base::ReadFileToString(path, &text))
    return false;
  *entries = base::SplitString(text, "\r\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
  return true;
}

// Removes `folder` and all it holds, or nothing: every file is first opened with no sharing, which fails while any
// process has it open (a program started from it, a library loaded from it, a reader), and marked for deletion only
// once all are held. A link anywhere inside keeps the folder, as the link's target may be anybody's.
bool RemoveFolderNobodyUses(const base::FilePath& folder) {
  std::vector<base::win::ScopedHandle> files;
  std::vector<base::FilePath> folders;
  base::FileEnumerator entries(folder, true, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    const base::FileEnumerator::FileInfo info = entries.GetInfo();
    if (info.find_data().dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      LOG(WARNING) << "Keeping " << folder.value() << ": " << entry.value() << " is a link";
      return false;
    }
    if (info.IsDirectory()) {
      folders.push_back(entry);
      continue;
    }
    files.emplace_back(CreateFileW(entry.value().c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!files.back().IsValid()) {
      PLOG(WARNING) << "Keeping " << folder.value() << ": " << entry.value() << " is in use";
      return false;
    }
  }
  for (size_t i = 0; i < files.size(); ++i) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (SetFileInformationByHandle(files[i].Get(), FileDispositionInfo, &disposition, sizeof(disposition)))
      continue;
    PLOG(WARNING) << "Keeping " << folder.value() << ": a file of it cannot be deleted";
    disposition.DeleteFile = FALSE;
    for (size_t j = 0; j < i; ++j)
      SetFileInformationByHandle(files[j].Get(), FileDispositionInfo, &disposition, sizeof(disposition));
    return false;
  }
  files.clear();
  // Deepest first: each folder is empty once those below it are gone.
  std::sort(folders.begin(), folders.end(),
            [](const base::FilePath& a, const base::FilePath& b) { return a.value().size() > b.value().size(); });
  folders.push_back(folder);
  bool removed = true;
  for (const base::FilePath& empty : folders)
    removed = RemoveDirectoryW(empty.value().c_str()) && removed;
  if (!removed)
    PLOG(WARNING) << "Could not remove all of " << folder.value();
  return removed;
}

}  // namespace

Installer::Installer() : message_loop_(base::MessageLoop::current()) {}

Installer::~Installer() {
  if (running_)
    Cancel();
  package_ready_watcher_.StopWatching();
  interrupted_watcher_.StopWatching();
  package_ready_event_.Close();
  interrupted_event_.Close();
  steps_.clear();
  undo_event_.Close();
  // What a successful run did becomes final: deleting an executed operation completes it (backups of replaced
  // or deleted files go).
  DeleteOperations(&transaction_);
}

void Installer::AddObserver(InstallerObserver* observer) {
  observers_.AddObserver(observer);
}

void Installer::RemoveObserver(InstallerObserver* observer) {
  observers_.RemoveObserver(observer);
}

void Installer::Run(Settings* settings) {
  CHECK(!settings_) << "An installation is already running";
  CHECK(!settings->status_fetcher()) << "The settings are still fetching their status";
  LOG(INFO) << "Beginning installation";
  settings->set_editable(false);
  settings_ = settings;
  succeeded_ = false;
  message_loop_->PostTask(base::Location("Installer::Run", __FILE__, __LINE__, nullptr),
                          base::Bind(&Installer::RunIfStillActive, run_weak_factory_.GetWeakPtr(),
                                     base::Bind(&Installer::Start, base::Unretained(this))));
}

const base::FilePath& Installer::install_folder() const {
  return settings_->status().path;
}

bool Installer::Execute(std::unique_ptr<Operation> operation) {
  return ExecuteOperation(&transaction_, std::move(operation));
}

void Installer::Start() {
  running_ = true;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const Status& status = settings_->status();
  const Settings::Operation operation = settings_->operation();

  if (settings_->autoupdate() && operation != Settings::kOperationUpgrade && !status.kadro_installation) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Settings operation invalid for autoupdate");
    return;
  }
  if (operation == Settings::kOperationNone) {
    LOG(ERROR) << Fail(kInstallerErrorNoOperation, L"", "Settings operation invalid");
    return;
  }
  if (!base::PathService::Get(base::kExeDir, &own_folder_)) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Failed getting our own path");
    return;
  }
  if (command_line.HasSwitch(kPostElevatedInstallTasksSwitch)) {
    LOG(INFO) << "Post elevation installation tasks only";
    RunPostElevationTasks();
    // The tasks may have ended the run themselves; a run reports its end once.
    if (running_)
      Succeed();
    return;
  }
  if (!OpenInterruptedEvent())
    return;
  if (command_line.HasSwitch(kParentPidSwitch)) {
    unsigned pid = 0;
    base::StringToUint(command_line.GetSwitchValueNative(kParentPidSwitch), &pid);
    other_process_id_ = pid;
    LOG(INFO) << "Second installer pid: " << other_process_id_;
  }
  const bool admin = IsUserAdmin(false);
  LOG(INFO) << "is_elevated_admin: " << admin;
  if (settings_->all_users() && settings_->silent() && !admin) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Installation requires elevation, but cannot elevate when silent");
    return;
  }
  if (!SettleWriteAccess(admin))
    return;
  if (!Execute(std::make_unique<CreateFolderOperation>(install_folder()))) {
    LOG(ERROR) << Fail(kInstallerErrorFolderCreation, install_folder().value(), "Could not create installation folder");
    return;
  }
  observers_.ForEach([](InstallerObserver* observer) { observer->OnInstallFolderReady(); });
  if (command_line.HasSwitch(kWaitForPackageSwitch)) {
    LOG(INFO) << "Need to wait for package";
    WaitForPackage(false);
    return;
  }
  FillInstallLog();
  RemoveKeptAsideFilesOfEndedRuns();
  if (operation != Settings::kOperationUninstall && (!ReadFileLists() || !CreateSubfolder()))
    return;
  if (operation == Settings::kOperationUninstall && !CheckBrowserNotRunning())
    return;
  if (operation == Settings::kOperationUpgrade)
    ApplyStoredExperiments();
  if (status.experiments.IsFeatureEnabled(kTestExperimentFeature) !=
      base::FeatureList::GetInstance()->IsFeatureEnabled(kTestExperimentFeature)) {
    LOG(INFO) << "Changing the status of the test experiment.";
  }
  BuildStepList();
  const int total = CountTotalSteps();
  observers_.ForEach([total](InstallerObserver* observer) { observer->OnTotalSteps(total); });
  next_step_ = 0;
  steps_reported_ = 0;
  ScheduleNextStep();
}

bool Installer::OpenInterruptedEvent() {
  const std::wstring name =
      GetInstallerKernelObjectName(install_folder().value(), kInstallationInterruptedEventBase, true);
  LOG(INFO) << "Event name for interrupted installation: " << name;
  interrupted_watcher_.StopWatching();
  interrupted_event_.Set(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!interrupted_event_.IsValid()) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Failed to open a handle to the installation interrupted event");
    return false;
  }
  // Stopped before the start: nothing may be handed to an elevated process either.
  if (TakeInterruption())
    return false;
  if (!interrupted_watcher_.StartWatchingOnce(interrupted_event_.Get(), this)) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Failed to watch the installation interrupted event");
    return false;
  }
  return true;
}

// Decides whether this process can write into the install folder, obtaining the right from an elevated
// process when it cannot. Records the last install path on the way, so that a failure rolls it back too.
bool Installer::SettleWriteAccess(bool admin) {
  const Status& status = settings_->status();
  const bool all_users = settings_->all_users();
  const bool single_profile = settings_->single_profile();
  const bool install = settings_->operation() == Settings::kOperationInstall;
  bool write = true;
  if (base::FilePath::CompareIgnoreCase(install_folder().value(), status.valid_parent_folder.value()) != 0 &&
      (!all_users || admin)) {
    LOG(INFO) << "Using write permissions from the status";
    write = status.has_write_access;
    if (write && !Execute(std::make_unique<CreateFolderOperation>(install_folder()))) {
      LOG(ERROR) << Fail(kInstallerErrorFolderCreation, install_folder().value(), "Could not create installation folder");
      return false;
    }
  }
  if (settings_->operation() != Settings::kOperationUninstall && !settings_->copy_only() && !settings_->autoupdate())
    SaveLastInstallPath();
  if (write)
    write = HasWriteAccess(install_folder().value(), SE_FILE_OBJECT, kFolderReadWriteExecute);
  if (install && !write && single_profile && status.single_profile != 1) {
    LOG(ERROR) << Fail(kInstallerErrorNoWriteAccess, L"",
                       "Single profile installations are only allowed to locations where the user has write access");
    return false;
  }
  if (all_users && !admin) {
    LOG(INFO) << "All users is set but we have no admin privs -> elevate";
    if (!ActOnElevationResult(RunElevated()))
      return false;
  }
  if (install && admin && single_profile && status.single_profile != 1) {
    std::unique_ptr<AccessGrant> unused;
    GrantAccess(install_folder().value(), SE_FILE_OBJECT, GENERIC_ALL, true, &unused);
  }
  LOG(INFO) << "Write privileges for install folder: " << write;
  if (write)
    return true;
  std::unique_ptr<AccessGrant> unused;
  if (!GetFolderGrantRefusedSeam() &&
      GrantAccess(install_folder().value(), SE_FILE_OBJECT, kFolderReadWriteExecute, true, &unused)) {
    return true;
  }
  if (admin) {
    LOG(ERROR) << Fail(kInstallerErrorNoWriteAccess, L"", "Could not obtain write permissions to installation folder");
    return false;
  }
  if (IsUserAdmin(true)) {
    LOG(INFO) << "Running elevated because of folder privileges";
    if (!ActOnElevationResult(RunElevated()))
      return false;
  }
  LOG(INFO) << "Need temporary write permissions from administrative user";
  switch (ObtainFolderPermissionElevated(install_folder(), single_profile)) {
    case 0:
      LOG(INFO) << "Temporary write permission obtained";
      break;
    case 1:
      LOG(ERROR) << Fail(kInstallerErrorElevation, L"",
                         "Failed to elevate the process to give us write permissions to installation folder");
      return false;
    case 2:
      LOG(ERROR) << Fail(kInstallerErrorGeneric, L"",
                         "The process for giving us write permission to the installer folder didn't complete "
                         "successfully");
      return false;
    case 3:
      LOG(ERROR) << Fail(kInstallerErrorGeneric, L"",
                         "Error when setting up the process to give us write permissions to installation folder");
      return false;
    default:
      break;
  }
  if (!HasWriteAccess(install_folder().value(), SE_FILE_OBJECT, kFolderReadWriteExecute)) {
    LOG(ERROR) << Fail(kInstallerErrorNoWriteAccess, L"",
                       "No write access to installation folder after attempting to get it via elevated process");
    return false;
  }
  return true;
}

// False when the elevated run ended this run; a result outside the known ones lets the caller go on.
bool Installer::ActOnElevationResult(int result) {
  switch (result) {
    case 0:
      LOG(INFO) << "Succeeded elevated run";
      // The package hand-over after the elevated run ends the run itself, at once or once the package is ready;
      // a run reports its end once.
      if (running_ && !package_ready_watcher_.IsWatching())
        Succeed();
      return false;
    case 1:
      LOG(ERROR) << Fail(kInstallerErrorElevation, L"", "Elevated installation failed.");
      return false;
    case 2:
      LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Installer process did not complete successfully.");
      return false;
    case 3:
      LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Error when setting up the installer process");
      return false;
    default:
      return running_;
  }
}

void Installer::SaveLastInstallPath() {
  LOG(INFO) << "Saving last installation path.";
  RegistryEntry entry = kSetLastInstallPathRegOp;
  entry.placeholders = this;
  std::unique_ptr<Operation> operation;
  if (!CreateRegistryOperation(entry, HKEY_CURRENT_USER, &operation) || !operation) {
    LOG(ERROR) << "Could not convert kSetLastInstallPathRegOp";
    return;
  }
  if (!Execute(std::move(operation)))
    LOG(WARNING) << "Could not write last installation path";
}

void Installer::FillInstallLog() {
  const Status& status = settings_->status();
  install_log_.copy_only = settings_->copy_only();
  install_log_.all_users = settings_->all_users();
  install_log_.installation_path = install_folder();
  install_log_.version = GetFullVersionString();
  if (settings_->operation() == Settings::kOperationUpgrade && !status.install_log.app_id.empty()) {
    install_log_.app_id = status.install_log.app_id;
  } else {
    // An uninstallation registers nothing under its id.
    install_log_.app_id = settings_->operation() == Settings::kOperationUninstall
                              ? base::Int64ToString(base::Time::Now().ToTimeT())
                              : ClaimNewApplicationId();
    LOG(INFO) << "AppId for new installation: " << install_log_.app_id;
  }
}

// The time in seconds, counted up past an id that another installer gives out at this moment (its claim is a
// machine-wide object held for its run) or whose autoupdate task is registered. Installations made in the same
// second would otherwise share one task, each replacing or, when uninstalled, deleting the other's, and one
// taskbar grouping.
std::string Installer::ClaimNewApplicationId() {
  constexpr int kAttempts = 1000;
  const int64_t now = base::Time::Now().ToTimeT();
  const std::unique_ptr<TaskScheduler> scheduler(CreateTaskScheduler());
  const bool scheduler_ready = scheduler->Init();
  for (int64_t id = now; id < now + kAttempts; ++id) {
    const std::wstring text = base::UTF8ToWide(base::Int64ToString(id));
    HANDLE claim = CreateMutexW(nullptr, FALSE,
                                GetInstallerKernelObjectName(text, kApplicationIdClaimBase, true).c_str());
    const DWORD error = GetLastError();
    base::win::ScopedHandle claim_holder(claim);
    if (!claim || error == ERROR_ALREADY_EXISTS)
      continue;
    if (scheduler_ready && scheduler->GetState(L"Autoupdate " + text) != kTaskStateMissing)
      continue;
    application_id_claim_ = std::move(claim_holder);
    return base::WideToUTF8(text);
  }
  LOG(WARNING) << "Every application id tried is taken; using the time";
  return base::Int64ToString(now);
}

bool Installer::ReadFileLists() {
  LOG(INFO) << "Reading files list";
  if (!ReadListFile(own_folder_.Append(kFilesListFileName), &files_)) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Could not read files list");
    return false;
  }
  if (files_.empty()) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "No files in files list");
    return false;
  }
  if (ReadListFile(own_folder_.Append(kRootFilesListFileName), &root_files_))
    LOG(INFO) << "Read root files list";
  return true;
}

// What a deletion kept aside in the install folder is removed when its run commits; a run that never did (killed,
// or its machine lost power) left it there for good. No other run can be using the folder, as the runner holds its
// mutexes for the whole run: what nobody holds open goes.
void Installer::RemoveKeptAsideFilesOfEndedRuns() {
  base::FileEnumerator entries(install_folder(), false,
                               base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  std::vector<base::FilePath> kept;
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    if (DeleteFileOperation::IsTemporaryName(entry.BaseName().value()) &&
        !(entries.GetInfo().find_data().dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      kept.push_back(entry);
    }
  }
  for (const base::FilePath& path : kept) {
    LOG(INFO) << "Removing " << path.value() << ", kept aside by a run that never ended";
    if (base::DirectoryExists(path)) {
      RemoveFolderNobodyUses(path);
      continue;
    }
    // Deleted as it is closed, and opened only when nobody else has it open.
    const base::win::ScopedHandle file(CreateFileW(path.value().c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                                   FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid())
      PLOG(WARNING) << "Keeping " << path.value();
  }
}

// The version folders the installation's status logs name: the current one's and those of the versions it
// replaced ("old_status"), which a later upgrade removes.
std::vector<base::FilePath> Installer::SubfoldersNamedByStatusLogs() const {
  std::vector<base::FilePath> named = {settings_->status().install_log.subfolder};
  base::FileEnumerator logs(install_folder().Append(kOldStatusFolderName), false, base::FileEnumerator::FILES);
  for (base::FilePath path = logs.Next(); !path.empty(); path = logs.Next()) {
    InstallLog log;
    XmlDocument document;
    if (LoadInstallLog(&document, &log, path))
      named.push_back(log.subfolder);
  }
  return named;
}

// The version's own folder; a folder of that name that an installation's status log names gets a counter: V, V_0,
// V_1... One that no status log names was left by a run that ended before writing its log (killed, or its machine
// lost power), and nothing else would ever remove it. No other run can be writing it, as the runner holds the
// install folder's mutexes for the whole run: it goes, unless a process still has a file of it open.
bool Installer::CreateSubfolder() {
  const std::wstring version = base::UTF8ToWide(GetFullVersionString());
  const std::vector<base::FilePath> named = SubfoldersNamedByStatusLogs();
  const auto is_named = [&named](const std::wstring& subfolder) {
    return std::any_of(named.begin(), named.end(), [&subfolder](const base::FilePath& name) {
      return base::FilePath::CompareIgnoreCase(name.StripTrailingSeparators().value(), subfolder) == 0;
    });
  };
  std::wstring subfolder = version;
  for (int counter = 0;; ++counter) {
    const base::FilePath path = install_folder().Append(subfolder);
    if (!base::PathExists(path))
      break;
    if (base::DirectoryExists(path) && !is_named(subfolder)) {
      LOG(INFO) << "Removing the version folder " << subfolder << ", which no status log names";
      if (RemoveFolderNobodyUses(path))
        break;
    }
    subfolder = version + L"_" + std::to_wstring(counter);
  }
  LOG(INFO) << "Installation subfolder" << subfolder;
  install_log_.subfolder = base::FilePath(subfolder);
  if (!Execute(std::make_unique<CreateFolderOperation>(install_folder().Append(subfolder)))) {
    LOG(ERROR) << Fail(kInstallerErrorFolderCreation, subfolder, "Creating installation subfolder failed");
    return false;
  }
  return true;
}

// The browser's executable cannot be removed while it runs: then nothing is uninstalled. A log whose subfolder
// leads out of the installation names no executable of it, and the uninstallation skips its files anyway.
bool Installer::CheckBrowserNotRunning() {
  const std::string executable = GetBrandingFileNameBase() + ".exe";
  const base::FilePath path =
      InstalledPath(settings_->status().install_log, base::FilePath(base::UTF8ToWide(executable)));
  if (path.empty() || Execute(std::make_unique<DeleteFileOperation>(path, true, install_folder())))
    return true;
  LOG(ERROR) << Fail(kInstallerErrorBrowserRunning, L"", "Can't uninstall when " + executable + " is in use");
  return false;
}

// An upgrade keeps the experiment states the installation was made with; switches given now still win.
void Installer::ApplyStoredExperiments() {
  const base::scoped_refptr<JsonPrefStore> prefs =
      PrefsTaskPool::GetInstance()->CreatePrefStore(install_folder().Append(kInstallerPrefsFileName));
  const base::Value* value = nullptr;
  const base::ListValue* list = nullptr;
  if (!prefs->GetValue(kInstallerExperimentsPref, &value) || !value->GetAsList(&list))
    return;
  base::FeatureList* features = base::FeatureList::GetInstance();
  features->InitializeFromReader(base::ListFeatureReader(list));
  features->InitializeFromReader(base::CommandLineFeatureReader(base::CommandLine::ForCurrentProcess()));
}

void Installer::BuildStepList() {
  steps_.clear();
  auto step = [this](void (Installer::*method)()) { steps_.push_back(base::Bind(method, base::Unretained(this))); };
  auto copy_step = [this](void (Installer::*method)(int)) {
    steps_.push_back(base::Bind(method, base::Unretained(this), 0));
  };
  switch (settings_->operation()) {
    case Settings::kOperationInstall:
      copy_step(&Installer::StepCopyFiles);
      copy_step(&Installer::StepCopyRootFiles);
      step(&Installer::StepInstallLauncher);
      step(&Installer::StepSetupRegistry);
      step(&Installer::StepInstallShortcuts);
      step(&Installer::StepWriteInstallerPrefs);
      step(&Installer::StepFinalizeInstallation);
      break;
    case Settings::kOperationUpgrade:
      step(&Installer::StepRemoveInstalledFiles);
      copy_step(&Installer::StepCopyFiles);
      step(&Installer::StepRemoveOldRootFiles);
      copy_step(&Installer::StepCopyRootFiles);
      step(&Installer::StepInstallLauncher);
      step(&Installer::StepCleanupRegistry);
      step(&Installer::StepSetupRegistry);
      step(&Installer::StepUpdateShortcuts);
      step(&Installer::StepWriteInstallerPrefs);
      step(&Installer::StepPreserveStatus);
      step(&Installer::StepFinalizeInstallation);
      break;
    case Settings::kOperationUninstall:
      step(&Installer::StepCleanupRegistry);
      step(&Installer::StepRemoveShortcuts);
      step(&Installer::StepFinalizeUninstallation);
      step(&Installer::StepRemoveInstalledFiles);
      step(&Installer::StepCleanupAfterUninstallation);
      break;
    case Settings::kOperationNone:
      break;
  }
}

// One report per posted step, one per file copied by a re-posted copy task (all but each list's last) and
// the one the last step sends before the success. An uninstallation reads no file lists.
int Installer::CountTotalSteps() const {
  const int files = files_.empty() ? 0 : static_cast<int>(files_.size()) - 1;
  const int root_files = root_files_.empty() ? 0 : static_cast<int>(root_files_.size()) - 1;
  return static_cast<int>(steps_.size()) + files + root_files + 1;
}

void Installer::ScheduleNextStep() {
  CHECK_LT(next_step_, steps_.size()) << "A last step schedules no further step";
  PostForThisRun(base::Location("Installer::ScheduleNextStep", __FILE__, __LINE__, nullptr), steps_[next_step_]);
  ReportStep();
  ++next_step_;
}

bool Installer::ReportStep() {
  observers_.ForEach([](InstallerObserver* observer) { observer->OnStep(); });
  ++steps_reported_;
  const StepReportedHook hook = GetStepReportedHook();
  if (running_ && hook && hook(steps_reported_, interrupted_event_.Get()))
    OnObjectSignaled(interrupted_event_.Get());
  return running_;
}

void Installer::PostForThisRun(const base::Location& location, const base::Closure& task) {
  message_loop_->PostTask(location,
                          base::Bind(&Installer::RunIfStillActive, run_weak_factory_.GetWeakPtr(), task));
}

void Installer::RunIfStillActive(base::Closure task) {
  task.Run();
}

void Installer::StepCopyFiles(int index) {
  CopyFileW(index, files_, base::Bind(&Installer::StepCopyFiles, base::Unretained(this), index + 1),
            &install_log_.files, false);
}

void Installer::StepCopyRootFiles(int index) {
  CopyFileW(index, root_files_, base::Bind(&Installer::StepCopyRootFiles, base::Unretained(this), index + 1),
            &install_log_.root_files, true);
}

void Installer::CopyFileW(int index, const std::vector<std::string>& list, const base::Closure& next,
                          std::vector<base::FilePath>* logged, bool root) {
  if (root && index == 0 && list.empty()) {
    LOG(INFO) << "Skipping copying of root files since list is empty.";
    ScheduleNextStep();
    return;
  }
  const int size = static_cast<int>(list.size());
  if (index < 0 || index >= size) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"",
                       "Invalid index " + std::to_string(index) + " passed to StepCopyFile (max: " +
                           std::to_string(size) + ")");
    return;
  }
  const base::FilePath relative(base::UTF8ToWide(list[index]));
  LOG(INFO) << "Copying " << (root ? "root " : "") << "file " << relative.value();
  const base::FilePath source = own_folder_.Append(relative);
  base::FilePath destination = install_folder();
  if (!root)
    destination = destination.Append(install_log_.subfolder);
  destination = destination.Append(relative);
  if (!Execute(std::make_unique<CopyFileOperation>(source, destination))) {
    // One error for every cause; its reason tells a package that lacks the file from a write that failed.
    const bool missing = !base::PathExists(source);
    LOG(ERROR) << Fail(kInstallerErrorCopy, destination.value(),
                       "Failed copying " + list[index] + (missing ? " (missing from the package)" : ""));
    return;
  }
  logged->push_back(relative);
  if (index + 1 >= size) {
    LOG(INFO) << "Done copying " << (root ? "root " : "") << "files";
    ScheduleNextStep();
    return;
  }
  if (ReportStep())
    PostForThisRun(base::Location("Installer::CopyFileW", __FILE__, __LINE__, nullptr), next);
}

std::string Installer::Fail(int code, const std::wstring& detail, const std::string& message) {
  if (!running_) {
    LOG(WARNING) << "Not reporting a failure after the installation ended: " << message;
    return message;
  }
  observers_.ForEach(
      [&](InstallerObserver* observer) { observer->OnInstallerError(code, detail, message); });
  Cancel();
  return message;
}

// Also reached through the interrupted event, which may arrive after the run ended: a finished installation
// is never rolled back by it.
void Installer::Cancel() {
  if (!running_) {
    LOG(INFO) << "No installation to cancel";
    return;
  }
  LOG(INFO) << "Installation cancelled";
  RollbackOperations(&transaction_);
  ResetState();
  observers_.ForEach([](InstallerObserver* observer) { observer->OnInstallerTerminated(false); });
}

void Installer::Succeed() {
  if (!running_) {
    LOG(WARNING) << "Not reporting success after the installation ended";
    return;
  }
  LOG(INFO) << "Installation succeeded";
  succeeded_ = true;
  ReportSuccessToHandingOverInstaller();
  observers_.ForEach([](InstallerObserver* observer) { observer->OnInstallerSuccess(); });
  ResetState();
}

void Installer::ResetState() {
  // Tells a folder-permission helper to put the folder's permissions back.
  if (undo_event_.IsValid())
    SetEvent(undo_event_.Get());
  // A package that becomes ready later belongs to no run.
  package_ready_watcher_.StopWatching();
  settings_ = nullptr;
  uninstall_key_.clear();
  older_leftovers_.clear();
  running_ = false;
  // Steps and copies still queued belong to the ended run.
  run_weak_factory_.InvalidateWeakPtrs();
}

bool Installer::TakeInterruption() {
  if (!interrupted_event_.IsValid() || WaitForSingleObject(interrupted_event_.Get(), 0) != WAIT_OBJECT_0)
    return false;
  OnObjectSignaled(interrupted_event_.Get());
  return true;
}

void Installer::OnObjectSignaled(HANDLE object) {
  if (object == interrupted_event_.Get()) {
    LOG(INFO) << "Installation was interrupted";
    Cancel();
    return;
  }
  if (object == package_ready_event_.Get()) {
    HandOverToPackage();
    return;
  }
  LOG(ERROR) << "Signal of an unexpected object";
}

std::wstring Installer::GetValue(const std::wstring& name) {
  if (name == L"InstallFolder")
    return install_folder().value();
  if (name == L"Version")
    return base::UTF8ToWide(GetFullVersionString());
  if (name == L"Executable")
    return base::UTF8ToWide(GetBrandingFileNameBase() + ".exe");
  if (name == L"Product")
    return base::UTF8ToWide(GetProductName());
  if (name == L"Company")
    return base::UTF8ToWide(GetBrandingCompanyName());
  if (name == L"CompanyRegistryKey")
    return GetCompanyRegistryKeyPath();
  if (name == L"Stream")
    return base::UTF8ToWide(GetStreamName());
  if (name == L"Uninstall")
    return uninstall_key_;
  if (name == L"HelpURL")
    return base::UTF8ToWide(GetBrandingUrl("help"));
  if (name == L"CompanyURL")
    return base::UTF8ToWide(GetBrandingUrl("homepage"));
  if (name == L"DownloadsURL")
    return base::UTF8ToWide(GetBrandingUrl("download"));
  return name;
}

std::vector<InstallLogKey>* Installer::GetRootValue(HKEY root) {
  if (!record_registry_)
    return nullptr;
  return root == HKEY_LOCAL_MACHINE ? &install_log_.machine_keys : &install_log_.user_keys;
}

}  // namespace zorvi::installer
