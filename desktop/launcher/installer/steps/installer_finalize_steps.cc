// The last steps of an install or upgrade: the installer preferences, the previous status log kept aside, and
// the finish (the status log, the default browser, the autoupdate task, the user's profile, the browser's start).
// Also the per-user part of an installation whose machine-wide part an elevated process did.
#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/files/file_util.h"
#include "base/files/important_file_writer.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/service/task_scheduler.h"
#include "desktop/launcher/installer/service/transactions/create_folder_operation.h"
#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"
#include "desktop/launcher/installer/service/xml_document.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/launcher/installer/steps/default_browser.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

namespace zorvi::installer {

namespace {

constexpr char kTaskErrorCountPref[] = "au_task_error_count";
// How long each window may take to take the settings change in.
constexpr UINT kSettingChangeTimeoutMs = 1000;

// Partner content the package may carry for the user's profile, and the profile's copies of it.
constexpr wchar_t kCustomPartnerContentFileName[] = L"custom_partner_content.json";
constexpr wchar_t kTrackingUserAgentFileName[] = L"tracking_user_agent.json";


// Changes a file outside the operations that know how to undo themselves (a preference store writes it, or it is
// written in one piece) while keeping what was there, so that a rollback puts back the same bytes, or removes the
// file when the run created it.
class RewriteFileOperation : public Operation {
 public:
  RewriteFileOperation(const base::FilePath& path, std::function<bool()> write)
      : path_(path), write_(std::move(write)) {}

  bool Do(OperationList*) override {
    existed_ = base::PathExists(path_);
    if (existed_ && (base::DirectoryExists(path_) || !base::ReadFileToString(path_, &previous_))) {
      LOG(ERROR) << "Cannot keep the contents of " << path_.value() << " for a rollback";
      return false;
    }
    if (IsFaultInjected(this, path_.value()))
      return false;
    written_ = true;
    return write_();
  }

  void Rollback() override {
    std::string current;
    if (!written_ || (existed_ && base::ReadFileToString(path_, &current) && current == previous_))
      return;
    const bool restored = existed_ ? base::ImportantFileWriter::WriteFileAtomically(path_, previous_)
                                   : (!base::PathExists(path_) || base::DeleteFile(path_, false));
    if (!restored)
      LOG(ERROR) << "Could not put back " << path_.value();
  }

 private:
  const base::FilePath path_;
  const std::function<bool()> write_;
  bool existed_ = false;
  bool written_ = false;  // the file may have changed
  std::string previous_;
};

// "<name>@1" for a feature that is on, "<name>@2" for one that is off: the form stored experiments are read in.
std::string ExperimentEntry(const char* name, bool enabled) {
  return std::string(name) + (enabled ? "@1" : "@2");
}

bool IsWindows10OrLater() {
  return base::win::GetVersion() >= base::win::VERSION_WIN10;
}

}  // namespace

void Installer::StepWriteInstallerPrefs() {
  const base::FilePath path = install_folder().Append(kInstallerPrefsFileName);
  LOG(INFO) << "Writing installer prefs to " << path.value();
  if (!Execute(std::make_unique<RewriteFileOperation>(path, [this, path] { return WriteInstallerPrefs(path); })))
    LOG(ERROR) << "Could not write the installer prefs";
  ScheduleNextStep();
}

bool Installer::WriteInstallerPrefs(const base::FilePath& path) {
  PrefsTaskPool* pool = PrefsTaskPool::GetInstance();
  const base::scoped_refptr<JsonPrefStore> prefs = pool->CreatePrefStore(path);
  const base::scoped_refptr<JsonPrefStore> include =
      pool->CreatePrefStore(own_folder_.Append(kInstallerPrefsIncludeFileName));
  std::vector<const char*> keys;
  auto set = [&prefs, &keys](const char* key, std::unique_ptr<base::Value> value) {
    prefs->SetValue(key, std::move(value), 0);
    keys.push_back(key);
  };

  const base::Value* welcome_url = nullptr;
  if (include->GetValue(kWelcomeUrlPref, &welcome_url) && welcome_url->IsType(base::Value::kTypeString)) {
    LOG(INFO) << "Writing welcome page url pref";
    set(kWelcomeUrlPref, welcome_url->CreateDeepCopy());
  }
  set(kSingleProfilePref, std::make_unique<base::ScalarValue>(settings_->single_profile()));
  if (!settings_->profile_folder().empty()) {
    LOG(INFO) << "Writing profile folder pref";
    set(kProfilePathPref, std::make_unique<base::StringValue>(settings_->profile_folder().value()));
  }
  if (!settings_->install_language().empty()) {
    LOG(INFO) << "Writing install language pref";
    set(kLanguagePref, std::make_unique<base::StringValue>(settings_->install_language()));
  }
  auto changed = std::make_unique<base::ListValue>();
  auto all = std::make_unique<base::ListValue>();
  size_t count = 0;
  const FeatureRow* rows = GetInstallerFeatureTable(&count);
  for (size_t i = 0; i < count; ++i) {
    const bool enabled = base::FeatureList::GetInstance()->IsFeatureEnabled(rows[i].name);
    if (enabled != IsFeatureEnabledByDefault(rows[i]))
      changed->AppendString(ExperimentEntry(rows[i].name, enabled));
    all->AppendString(ExperimentEntry(rows[i].name, enabled));
  }
  set(kInstallerExperimentsPref, std::move(changed));
  set(kAllInstallerExperimentsPref, std::move(all));
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(kTempFolderSwitch)) {
    LOG(INFO) << "Writing temp folder pref";
    set(kTempFolderPref, std::make_unique<base::StringValue>(command_line.GetSwitchValueNative(kTempFolderSwitch)));
  }
  if (!settings_->autoupdate()) {
    LOG(INFO) << "Writing import browser data and enables stats prefs.";
    set(kImportBrowserDataPref, std::make_unique<base::ScalarValue>(settings_->import_browser_data()));
    set(kEnableStatsPref, std::make_unique<base::ScalarValue>(settings_->enable_zorvi_stats()));
  }
  PrefsTaskPool::GetInstance()->WriteNow(prefs.get());
  // The store's commit tells nothing of its outcome, and an upgrade finds the file there already: the write
  // succeeded when the file now holds every value set here. A store that may not overwrite its file wrote nothing.
  std::string text;
  const std::unique_ptr<base::Value> written =
      prefs->ReadOnly() || !base::ReadFileToString(path, &text) ? nullptr : base::JsonReader::Read(text);
  const base::DictionaryValue* dictionary = nullptr;
  if (!written || !written->GetAsDictionary(&dictionary))
    return false;
  return std::all_of(keys.begin(), keys.end(), [&](const char* key) {
    const base::Value* set_value = nullptr;
    const base::Value* stored = nullptr;
    return prefs->GetValue(key, &set_value) && dictionary->Get(key, &stored) && set_value->Equals(stored);
  });
}

void Installer::StepPreserveStatus() {
  LOG(INFO) << "Preserving previous installer status.";
  base::FilePath status = install_folder().Append(kInstallLogFileName);
  if (!base::PathExists(status))
    status = install_folder().Append(kKadroInstallLogFileName);
  if (!base::PathExists(status)) {
    LOG(WARNING) << "No previous status file found.";
    ScheduleNextStep();
    return;
  }
  // Only the kept log lets a later upgrade or the uninstallation remove the replaced version's folder: an upgrade
  // that cannot keep it fails, and the rollback leaves the installation as it was.
  const auto fail = [this] {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Could not keep the previous installation status");
  };
  const base::FilePath old = install_folder().Append(kOldStatusFolderName);
  if (!base::DirectoryExists(old)) {
    LOG(INFO) << "Creating folder for ald status files.";
    if (!Execute(std::make_unique<CreateFolderOperation>(old)))
      return fail();
  }
  // Each upgrade keeps its predecessor's log under the time it was replaced.
  const base::FilePath destination =
      old.Append(std::wstring(kInstallLogFileName) + L"." + std::to_wstring(base::Time::Now().ToTimeT()));
  LOG(INFO) << "Moving old status file.";
  if (!Execute(std::make_unique<MoveFileOperation>(status, destination)))
    return fail();
  ScheduleNextStep();
}

void Installer::StepFinalizeInstallation() {
  LOG(INFO) << "Finalizing the installation";
  if (!WriteStatusLog()) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Failed saving the installation status");
    return;
  }
  // The last step is reported before anything outside the transaction changes, so that an interruption taken
  // with the report still leaves the machine as it was.
  if (!ReportStep())
    return;
  SetUpDefaultBrowser();
  NotifyBrowserRegistrationChanged();
  // A per-user installation that borrowed write access from the folder-permission helper, its own or the one of the
  // run that handed over to it, cannot keep the task's program writable for the updates it would run.
  const bool borrowed_write_access =
      undo_event_.IsValid() || base::CommandLine::ForCurrentProcess()->HasSwitch(kBorrowedWriteAccessSwitch);
  if (!settings_->copy_only() && !borrowed_write_access &&
      CreateAutoupdateTask(install_folder(), base::UTF8ToWide(install_log_.app_id), settings_->all_users())) {
    LowerTaskErrorCount();
  }
  FinalizeSuccessfulInstallation();
  Succeed();
}

// Lets the shell and running programs see the changed browser registration and file associations. The text goes
// to other processes, so the system must copy it: only a synchronous send does (an asynchronous one is refused
// for a message that carries a pointer), and a window that does not answer is not waited for.
void Installer::NotifyBrowserRegistrationChanged() {
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                      reinterpret_cast<LPARAM>(kStartMenuInternetKey), SMTO_ABORTIFHUNG,
                      kSettingChangeTimeoutMs, nullptr);
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

// The log goes to a temporary file beside it that then replaces it: a crash or a full disk never leaves a
// truncated log, which would lose the installation to every later run.
bool Installer::WriteStatusLog() {
  XmlDocument document;
  std::string text;
  if (!WriteInstallLog(&document, install_log_) || !SerializeXmlDocument(document, &text))
    return false;
  const base::FilePath path = install_folder().Append(kInstallLogFileName);
  return Execute(std::make_unique<RewriteFileOperation>(
      path, [path, text] { return base::ImportantFileWriter::WriteFileAtomically(path, text); }));
}

void Installer::SetUpDefaultBrowser() {
  const Status& status = settings_->status();
  // From Windows 10 on only the user can choose the browser: nothing is asked of an unattended run or a run
  // started by another installer, nor for an installation that already is the browser.
  if (IsWindows10OrLater() && (base::CommandLine::ForCurrentProcess()->HasSwitch(kParentPidSwitch) ||
                               settings_->silent() || status.is_http_handler)) {
    return;
  }
  if (!settings_->default_browser() || settings_->copy_only())
    return;
  FolderInstallationInfo info(install_folder(), install_log_);
  if (settings_->all_users()) {
    LOG(INFO) << "Storing old default browser settings for all users";
    RememberPreviousDefaultBrowser(&info, true);
    MakeDefaultBrowser(&info, true);
  }
  LOG(INFO) << "Storing old default browser settings for current users";
  RememberPreviousDefaultBrowser(&info, false);
  MakeDefaultBrowser(&info, false);
}

// The autoupdate run counts its failures to start the task; a task registered again earns one back.
void Installer::LowerTaskErrorCount() {
  const base::scoped_refptr<JsonPrefStore> prefs =
      PrefsTaskPool::GetInstance()->CreatePrefStore(install_folder().Append(kInstallerPrefsFileName));
  const base::Value* value = nullptr;
  int count = 0;
  if (!prefs->GetValue(kTaskErrorCountPref, &value) || !value->GetAsInteger(&count) || count <= 0)
    return;
  prefs->SetValue(kTaskErrorCountPref, std::make_unique<base::ScalarValue>(count - 1), 0);
  LOG(INFO) << "Setting autoupdate task error counter to : " << count - 1;
  PrefsTaskPool::GetInstance()->WriteNow(prefs.get());
}

void Installer::RunPostElevationTasks() {
  LOG(INFO) << "Running post elevation installation tasks.";
  const bool uninstall = settings_->operation() == Settings::kOperationUninstall;
  if (!uninstall && !settings_->copy_only() &&
      (!IsWindows10OrLater() || (!settings_->silent() && !settings_->status().is_http_handler))) {
    FolderInstallationInfo info(install_folder());
    LOG(INFO) << "Ensuring Zorvi is registered for the current user.";
    if (settings_->default_browser()) {
      LOG(INFO) << "Making Zorvi the default browser for the current user.";
      RememberPreviousDefaultBrowser(&info, false);
      MakeDefaultBrowser(&info, false);
    } else {
      LOG(INFO) << "Setting up file handlers for the current user.";
      RegisterBrowserClass(&info, false);
    }
  }
  if (uninstall) {
    // The elevated run left the user's part of the uninstallation to this one.
    ResetDefaultBrowserAfterUninstallation(false, true);
    OfferUninstallSurvey();
    return;
  }
  FinalizeSuccessfulInstallation();
}

void Installer::FinalizeSuccessfulInstallation() {
  LOG(INFO) << "Finalizing successful installation";
  const base::FilePath& profile = settings_->status().profile_path;
  if (!profile.empty()) {
    LOG(INFO) << "User profile modifications";
    UpdateUserProfile(profile);
  }
  if (settings_->launch_zorvi())
    LaunchBrowser();
}

void Installer::UpdateUserProfile(const base::FilePath& profile) {
  PrefsTaskPool* pool = PrefsTaskPool::GetInstance();
  const base::scoped_refptr<JsonPrefStore> local_state = pool->CreatePrefStore(profile.Append(kLocalStateFileName));
  // A browser language this installer could not have shown is the user's own choice, which the run's language
  // must not replace when it is a fallback; a language the user picked for this run replaces it.
  const base::Value* locale = nullptr;
  std::wstring stored;
  if (local_state->GetValue(kAppLocalePref, &locale) && locale->GetAsString(&stored)) {
    if (settings_->install_language_chosen() || IsUiLanguageAvailable(NormalizeLanguageTag(stored))) {
      LOG(INFO) << "Updating user profile language";
      local_state->SetValue(kAppLocalePref, std::make_unique<base::StringValue>(settings_->install_language()), 0);
    } else {
      LOG(INFO) << "Keeping the user profile language " << stored << ": the installer does not have it";
    }
  }
  if (!settings_->autoupdate()) {
    const base::scoped_refptr<JsonPrefStore> preferences = pool->CreatePrefStore(profile.Append(L"Preferences"));
    LOG(INFO) << "Removing stat pref from the user profile";
    preferences->RemoveValue("statistics.collection_enabled", 0);
    PrefsTaskPool::GetInstance()->WriteNow(preferences.get());
    if (UpdatePartnerContent(profile)) {
      LOG(INFO) << "Flag the fact that custom content was updated in profile.";
      local_state->SetValue("custom_partner_content.updated", std::make_unique<base::ScalarValue>(true), 0);
    }
  }
  PrefsTaskPool::GetInstance()->WriteNow(local_state.get());
}

// The profile holds the partner content of the package it was last installed from: content the package no
// longer has goes, content new to the profile comes. True when the profile's custom content changed.
bool Installer::UpdatePartnerContent(const base::FilePath& profile) {
  base::FilePath subfolder = install_log_.subfolder;
  // After an elevated run this process made no subfolder of its own: the elevated one did, and its status log,
  // written by now, names it.
  if (subfolder.empty()) {
    FolderInstallationInfo installation(install_folder());
    installation.LoadInstallLog();
    subfolder = installation.install_log().subfolder;
  }
  // Without the version's folder the package's content is unknown, which is not the same as none: the profile
  // keeps what it has. A subfolder is one name inside the installation.
  if (subfolder.empty() || subfolder.BaseName() != subfolder || subfolder.value() == L"." ||
      subfolder.value() == L"..") {
    LOG(WARNING) << "The installation's version folder is unknown; the profile's partner content stays";
    return false;
  }
  const base::FilePath custom = profile.Append(kCustomPartnerContentFileName);
  const base::FilePath tracking = profile.Append(kTrackingUserAgentFileName);
  const base::FilePath resources = install_folder().Append(subfolder).Append(L"resources");
  const base::FilePath package_custom = resources.Append(kCustomPartnerContentFileName);
  const base::FilePath package_tracking = resources.Append(kTrackingUserAgentFileName);
  const bool has_custom = base::PathExists(package_custom);
  if (!has_custom && !base::PathExists(package_tracking)) {
    const bool custom_removed = base::PathExists(custom) && base::DeleteFile(custom, false);
    base::DeleteFile(tracking, false);
    LOG(INFO) << "Removing tracking ua file from the user profile";
    return custom_removed;
  }
  if (base::PathExists(custom) || base::PathExists(tracking))
    return false;
  if (has_custom) {
    LOG(INFO) << "Installed new cutsom edition to the user profile";
    if (base::CopyFile(package_custom, custom))
      return true;
    LOG(WARNING) << "Failed to copy new custom edition file.";
    return false;
  }
  LOG(INFO) << "Installed new tracking ua file to the user profile";
  if (!base::CopyFile(package_tracking, tracking))
    LOG(WARNING) << "Failed to copy new tracking ua file.";
  return false;
}

void Installer::LaunchBrowser() {
  const base::CommandLine& own = *base::CommandLine::ForCurrentProcess();
  base::CommandLine command_line(install_folder().Append(kLauncherFileName));
  for (const char* name : kBrowserImportSwitches) {
    if (own.HasSwitch(name))
      command_line.AppendSwitchNative(name, own.GetSwitchValueNative(name));
  }
  // A fresh installation opens in a maximized window; an upgrade keeps the user's window.
  if (settings_->operation() != Settings::kOperationUpgrade)
    command_line.AppendSwitch(kStartMaximizedSwitch);
  LOG(INFO) << "Launching zorvi with command line " << command_line.GetCommandLineString();
  base::LaunchOptions options;
  options.wait = true;
  if (!base::LaunchProcess(command_line, options).IsValid())
    LOG(ERROR) << "Could not launch " << command_line.GetProgram().value();
}

}  // namespace zorvi::installer
