// The shortcut steps. Every shortcut of a run is made once, as a master shortcut in the package folder, and copied
// to its destinations by undoable operations, so that a failed installation takes them away again; moves, removals,
// pins and unpins are undoable too. No shortcut problem ends a run: what cannot be made is left out with an error
// line.
#include "desktop/launcher/installer/steps/installer_shortcut_steps.h"

#include <memory>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"
#include "desktop/launcher/installer/service/transactions/operation.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"

namespace zorvi::installer {

namespace {

// A shortcut that another program holds is let go within these attempts (a reader holds it for moments).
constexpr int kShortcutRemovalAttempts = 10;
constexpr DWORD kShortcutRemovalRetryDelayMs = 100;

constexpr char kApplicationUserModelIdPrefix[] = "ZorviSoftware.ZorviWebBrowser.";

// The shell's taskbar verbs, or what a test has in their place.
bool SetTaskbarPin(const base::FilePath& shortcut, bool pin) {
  if (const TaskbarPinHook hook = GetTaskbarPinHook())
    return hook(shortcut, pin);
  return pin ? base::win::TaskbarPinShortcutLink(shortcut) : base::win::TaskbarUnpinShortcutLink(shortcut);
}

// A pin or unpin that a failed or interrupted run takes back. Unpinning removes the pinned shortcut from the
// taskbar's folder, so a copy of it is kept (under its own name, which a new pin takes) until the run is over.
class TaskbarPinOperation : public Operation {
 public:
  TaskbarPinOperation(const base::FilePath& shortcut, bool pin) : shortcut_(shortcut), pin_(pin) {}
  ~TaskbarPinOperation() override {
    if (!kept_folder_.empty())
      base::DeleteFile(kept_folder_, true);
  }

  bool Do(OperationList*) override {
    if (!pin_ && !KeepCopy())
      return false;
    if (IsFaultInjected(this, shortcut_.value()))
      return false;
    done_ = SetTaskbarPin(shortcut_, pin_);
    return done_;
  }

  void Rollback() override {
    if (done_ && !SetTaskbarPin(pin_ ? shortcut_ : kept_folder_.Append(shortcut_.BaseName()), !pin_))
      LOG(ERROR) << "Could not take back the taskbar change of " << shortcut_.value();
  }

 private:
  bool KeepCopy() {
    base::FilePath unique;
    if (!base::CreateTemporaryFile(&unique) || !base::DeleteFile(unique, false) || !base::CreateDirectory(unique)) {
      LOG(ERROR) << "No folder to keep " << shortcut_.value() << " in";
      return false;
    }
    kept_folder_ = unique;
    return base::CopyFile(shortcut_, kept_folder_.Append(shortcut_.BaseName()));
  }

  const base::FilePath shortcut_;
  const bool pin_;
  base::FilePath kept_folder_;
  bool done_ = false;
};

// A destination the system has no folder for gets no shortcut.
bool Folder(int key, base::FilePath* folder) {
  if (base::PathService::Get(key, folder))
    return true;
  LOG(ERROR) << "No shortcut folder for path key " << key;
  return false;
}

void AddDestination(int key, base::FilePath* slot, ShortcutDestinations* destinations) {
  base::FilePath folder;
  if (Folder(key, &folder))
    destinations->emplace_back(folder, slot);
}

// Whether a shortcut may be written at `shortcut`: the name is free, or what holds it already leads to `launcher`.
// A copy or move onto the name replaces what is there, which may be another installation's shortcut or the user's
// file.
bool MayTakeShortcutName(const base::FilePath& shortcut, const base::FilePath& launcher) {
  if (!base::PathExists(shortcut))
    return true;
  BY_HANDLE_FILE_INFORMATION identity = {};
  if (TestShortcut(shortcut, launcher, GetFileIdentity(launcher, &identity) ? &identity : nullptr))
    return true;
  LOG(ERROR) << "Not replacing " << shortcut.value() << ", which does not lead to this installation";
  return false;
}

bool SameNameIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && base::StartsWith(a, b, base::CompareCase::INSENSITIVE_ASCII);
}

}  // namespace

std::wstring ShortcutFileName(bool with_version) {
  std::string name = GetVisibleProductNameWithStream();
  if (with_version)
    name.append(" ").append(std::to_string(GetMajorVersion()));
  name.append(GetBrandingShortcutSuffix()).append(".lnk");
  // Decoded rather than widened byte by byte, so that a branded name beyond ASCII stays legible.
  return base::UTF8ToWide(name);
}

std::wstring ApplicationUserModelId(const std::string& application_id) {
  return base::UTF8ToWide(kApplicationUserModelIdPrefix + application_id);
}

base::win::ShortcutProperties LauncherShortcutProperties(const base::FilePath& target,
                                                          const std::string& application_id) {
  base::win::ShortcutProperties properties;
  properties.set_target(target);
  properties.set_working_dir(target.DirName());
  properties.set_app_id(ApplicationUserModelId(application_id));
  return properties;
}

void Installer::CreateMasterShortcut(const ShortcutDestinations& destinations, bool pin, bool* use_version,
                                     const base::FilePath& target) {
  const base::win::ShortcutProperties properties = LauncherShortcutProperties(target, install_log_.app_id);
  std::wstring name = ShortcutFileName(false);
  BY_HANDLE_FILE_INFORMATION identity = {};
  const BY_HANDLE_FILE_INFORMATION* launcher = GetFileIdentity(target, &identity) ? &identity : nullptr;
  for (size_t i = 0; i < destinations.size() && !*use_version; ++i) {
    // A shortcut under the plain name that leads to this folder's launcher already is no other program's: a run
    // here that ended before writing its status log (killed, or its machine lost power) made it, and this run
    // takes it over.
    const base::FilePath taken = destinations[i].first.Append(name);
    if (base::PathExists(taken) && !TestShortcut(taken, target, launcher)) {
      LOG(INFO) << "Using version in shortcut name to avoid collision";
      *use_version = true;
    }
  }
  if (*use_version)
    name = ShortcutFileName(true);
  LOG(INFO) << "Using shortcut name " << name;
  LOG(INFO) << "Creating master shortcut";
  const base::FilePath master = own_folder_.Append(name);
  LOG(INFO) << "Creating master shortcut at " << master.value();
  if (!base::win::CreateOrUpdateShortcutLink(master, properties, base::win::ShortcutWriteMode::CreateAlways)) {
    LOG(ERROR) << "Failed to create shortcut at " << master.value();
    return;
  }
  if (pin && base::win::CanPinShortcutToTaskbar()) {
    LOG(INFO) << "Pinning master shortcut";
    if (Execute(std::make_unique<TaskbarPinOperation>(master, true)))
      install_log_.pinned = true;
    else
      LOG(ERROR) << "Failed pinning " << master.value();
  }
  for (const auto& [folder, slot] : destinations) {
    const base::FilePath shortcut = folder.Append(name);
    if (MayTakeShortcutName(shortcut, target) && Execute(std::make_unique<CopyFileOperation>(master, shortcut)))
      *slot = shortcut;
  }
}

void Installer::StepInstallShortcuts() {
  if (settings_->copy_only()) {
    ScheduleNextStep();
    return;
  }
  LOG(INFO) << "Installing shortcuts";
  const bool all_users = settings_->all_users();
  ShortcutDestinations destinations;
  if (settings_->desktop_shortcut()) {
    VLOG(1) << "Preparing  to set up shortcut on " << (all_users ? "common" : "user") << " desktop";
    AddDestination(all_users ? base::kCommonDesktop : base::kUserDesktop, &install_log_.desktop_shortcut,
                   &destinations);
  }
  if (settings_->start_menu_shortcut()) {
    VLOG(1) << "Preparing  to set up shortcut in " << (all_users ? "common" : "user") << " start menu";
    AddDestination(all_users ? base::kCommonStartMenu : base::kStartMenu, &install_log_.start_menu_shortcut,
                   &destinations);
  }
  // The quick-launch bar belongs to the user even in an installation for all users.
  if (settings_->quick_launch_shortcut()) {
    VLOG(1) << "Preparing  to set up shortcut in user quick launch";
    AddDestination(base::kUserQuickLaunch, &install_log_.quick_launch_shortcut, &destinations);
  }
  bool use_version = false;
  CreateMasterShortcut(destinations, settings_->pinned_shortcut(), &use_version,
                       install_folder().Append(kLauncherFileName));
  ScheduleNextStep();
}

void Installer::StepUpdateShortcuts() {
  if (settings_->copy_only()) {
    ScheduleNextStep();
    return;
  }
  LOG(INFO) << "Updating shortcuts";
  const Status& status = settings_->status();
  const InstallLog& old_log = status.install_log;
  const bool all_users = settings_->all_users();

  // Shortcuts named with a version number keep that form; shortcuts under another plain name take the current one.
  bool use_version = false;
  bool rename = false;
  const std::wstring plain_name = base::FilePath(ShortcutFileName(false)).RemoveExtension().value();
  for (const base::FilePath* path :
       {&old_log.desktop_shortcut, &old_log.start_menu_shortcut, &old_log.quick_launch_shortcut}) {
    if (path->empty())
      continue;
    const std::wstring name = path->BaseName().RemoveExtension().value();
    if (!name.empty() && name.back() >= L'0' && name.back() <= L'9') {
      use_version = rename = true;
      break;
    }
    if (!SameNameIgnoringAsciiCase(name, plain_name))
      rename = true;
  }
  LOG(INFO) << (use_version ? "Using" : "Not using") << " shortcut names with version number";
  if (rename)
    LOG(INFO) << "Shortcuts needs to be renamed";

  const struct {
    const char* label;
    bool wanted;
    bool exists;
    bool recreate;
    const base::FilePath& recorded;
    int folder_key;
    base::FilePath* slot;
  } kinds[] = {
      {"Handling desktop shortcut:", settings_->desktop_shortcut(), status.desktop_shortcut_exists,
       status.recreate_desktop_shortcut, old_log.desktop_shortcut,
       all_users ? base::kCommonDesktop : base::kUserDesktop, &install_log_.desktop_shortcut},
      {"Handling start menu shortcut:", settings_->start_menu_shortcut(), status.start_menu_shortcut_exists,
       status.recreate_start_menu_shortcut, old_log.start_menu_shortcut,
       all_users ? base::kCommonStartMenu : base::kStartMenu, &install_log_.start_menu_shortcut},
      {"Handling quick launch shortcut:", settings_->quick_launch_shortcut(), status.quick_launch_shortcut_exists,
       status.recreate_quick_launch_shortcut, old_log.quick_launch_shortcut, base::kUserQuickLaunch,
       &install_log_.quick_launch_shortcut},
  };
  ShortcutDestinations destinations;
  for (const auto& kind : kinds) {
    LOG(INFO) << kind.label;
    if (!kind.exists && kind.wanted) {
      LOG(INFO) << "Preparing to add shortcut";
      AddDestination(kind.folder_key, kind.slot, &destinations);
    } else if (kind.exists && !kind.wanted) {
      LOG(INFO) << "Removing shortcut";
      Execute(std::make_unique<DeleteFileOperation>(kind.recorded, false));
    } else if (kind.exists && kind.recreate) {
      LOG(INFO) << "Recreating shortcut";
      Execute(std::make_unique<DeleteFileOperation>(kind.recorded, false));
      AddDestination(kind.folder_key, kind.slot, &destinations);
    } else if (kind.exists && rename) {
      LOG(INFO) << "Moving shortcut";
      base::FilePath folder;
      const base::FilePath moved =
          Folder(kind.folder_key, &folder) ? folder.Append(ShortcutFileName(use_version)) : base::FilePath();
      // One that has its name already stays: moving a file onto itself would first put it aside as replaced.
      const bool stays = moved.empty() ||
                         base::FilePath::CompareIgnoreCase(moved.value(), kind.recorded.value()) == 0 ||
                         !MayTakeShortcutName(moved, install_folder().Append(kLauncherFileName));
      const bool moves = !stays && Execute(std::make_unique<MoveFileOperation>(kind.recorded, moved));
      *kind.slot = moves ? moved : kind.recorded;
    } else {
      *kind.slot = kind.recorded;
    }
  }

  LOG(INFO) << "Handling pinned shortcut:";
  bool pin = false;
  if (status.pinned_shortcut_path.empty()) {
    if (settings_->pinned_shortcut()) {
      LOG(INFO) << "New pinned shortcut needed.";
      pin = true;
    }
  } else if (!settings_->pinned_shortcut()) {
    LOG(INFO) << "Unpinning existing shortcut";
    UnpinShortcut(status.pinned_shortcut_path);
  } else if (status.recreate_pinned_shortcut || rename) {
    LOG(INFO) << "Unpinning existing shortcut";
    UnpinShortcut(status.pinned_shortcut_path);
    LOG(INFO) << "New pinned shortcut needed.";
    pin = true;
  }
  // With no destination the master shortcut is still made: it is what a new pin points to.
  CreateMasterShortcut(destinations, pin, &use_version, install_folder().Append(kLauncherFileName));
  ScheduleNextStep();
}

void Installer::UnpinShortcut(const base::FilePath& shortcut) {
  if (!Execute(std::make_unique<TaskbarPinOperation>(shortcut, false)))
    LOG(WARNING) << "Failed unpinning " << shortcut.value();
}

// Only what the status found pointing at this installation is removed; a shortcut of the same name that leads
// elsewhere stays.
void Installer::StepRemoveShortcuts() {
  LOG(INFO) << "Removing shortctus.";
  const Status& status = settings_->status();
  const InstallLog& log = status.install_log;
  if (!status.pinned_shortcut_path.empty()) {
    LOG(INFO) << "Unpinning shortcut.";
    UnpinShortcut(status.pinned_shortcut_path);
  }
  const struct {
    bool exists;
    const base::FilePath& path;
    const char* message;
  } removals[] = {
      {status.desktop_shortcut_exists, log.desktop_shortcut, "Removing desktop shortcut."},
      {status.start_menu_shortcut_exists, log.start_menu_shortcut, "Removing start menu shortcut."},
      {status.quick_launch_shortcut_exists, log.quick_launch_shortcut, "Removing quick launch shortcut."},
      {status.temporary_shortcut_folder_exists, status.temporary_shortcut_folder,
       "Removing temporary shortcut folder."},
  };
  for (const auto& removal : removals) {
    if (!removal.exists)
      continue;
    LOG(INFO) << removal.message;
    RemoveShortcut(removal.path);
  }
  ScheduleNextStep();
}

// The shell, an indexer or a scanner reads a new or changed shortcut, and while it holds the file the move that
// sets it aside is refused: a removal that gave up at once left the shortcut behind now and then, with only a
// warning. It is tried again for a while; one still refused is an error, and the uninstallation goes on without it.
void Installer::RemoveShortcut(const base::FilePath& shortcut) {
  const int64_t seam = GetMoveBackRetryDelaySeam();
  const DWORD delay = seam >= 0 ? static_cast<DWORD>(seam) : kShortcutRemovalRetryDelayMs;
  for (int attempt = 1; attempt <= kShortcutRemovalAttempts; ++attempt) {
    if (Execute(std::make_unique<DeleteFileOperation>(shortcut, false)))
      return;
    if (attempt < kShortcutRemovalAttempts)
      Sleep(delay);
  }
  LOG(ERROR) << "Could not remove " << shortcut.value() << " in " << kShortcutRemovalAttempts << " attempts";
}

}  // namespace zorvi::installer
