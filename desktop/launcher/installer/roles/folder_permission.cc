#include "desktop/launcher/installer/roles/folder_permission.h"

#include <windows.h>

#include <objbase.h>
#include <sddl.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_memory.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/records/install_log.h"
#include "desktop/launcher/installer/roles/checked_package_copy.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/link_free_deletion.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/service/xml_document.h"
#include "desktop/launcher/installer/steps/uninstall_batch.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kGiveInstallPermissionEvent[] = L"ZorviInstaller/GiveInstallPermission";
constexpr wchar_t kGiveInstallPermissionUndoEvent[] = L"ZorviInstaller/GiveInstallPermission/Undo";
// Full access for the system and the administrators, and for nobody else; not taken from the folder above.
constexpr wchar_t kAdministratorsOnly[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The package's installer takes the request over; it watches the same initial process.
constexpr const char* kHandedOverSwitches[] = {kCrashReporterPidSwitch, kSetFolderPermissionSwitch,
                                               kPermissionsForUserSwitch, kPermanentPermissionsSwitch,
                                               kInitialPidSwitch};

// The run's initial process named by "initial-pid", opened with `access`.
bool OpenInitialProcess(const base::CommandLine& command_line, DWORD access, base::win::ScopedHandle* process) {
  unsigned process_id = 0;
  if (!base::StringToUint(command_line.GetSwitchValueNative(kInitialPidSwitch), &process_id) || process_id == 0)
    return false;
  process->Set(OpenProcess(access, FALSE, process_id));
  return process->IsValid();
}

base::win::ScopedHandle OpenNamedEvent(DWORD access, const std::wstring& name) {
  return base::win::ScopedHandle(OpenEventW(access, FALSE, name.c_str()));
}

void WaitForPackageThenHandOver(const base::CommandLine& command_line, const base::FilePath& folder) {
  const base::win::ScopedHandle ready = OpenNamedEvent(SYNCHRONIZE, GetPackageReadyEventName(folder));
  const base::win::ScopedHandle interrupted = OpenNamedEvent(SYNCHRONIZE, GetInstallationInterruptedEventName(folder));
  base::win::ScopedHandle initial;
  if (!ready.IsValid() || !interrupted.IsValid() || !OpenInitialProcess(command_line, SYNCHRONIZE, &initial))
    return;
  // The package first: when everything happened at once, the package is there to hand over to.
  const HANDLE objects[] = {ready.Get(), interrupted.Get(), initial.Get()};
  if (WaitForMultipleObjects(static_cast<DWORD>(std::size(objects)), objects, FALSE, INFINITE) != WAIT_OBJECT_0)
    return;
  // The package folder, the event and the initial process are the standard user's: only a checked copy starts.
  CheckedPackageCopy copy;
  if (!copy.Make(command_line.GetSwitchValuePath(kWaitForPackageSwitch)))
    return;
  base::CommandLine installer(copy.installer());
  installer.CopySwitchesFrom(command_line, kHandedOverSwitches, std::size(kHandedOverSwitches));
  if (const PackageFileUseHook hook = GetPackageFileUseHook())
    hook(installer.GetProgram());
  base::LaunchOptions options;
  options.wait = true;  // the requester waits for this process, so it ends after the package's installer
  base::LaunchProcess(installer, options);
}

// This role has no log file; an elevated helper's standard error reaches whoever captured it.
void ReportProblem(const char* what, const base::FilePath& path, const std::string& reason) {
  fprintf(stderr, "%s %s: %s\n", what, path.AsUTF8().c_str(), reason.c_str());
  fflush(stderr);
}

// Starts the batch of what the clean-up could not delete yet, to run once this process has ended, from a new folder
// that only administrators and the system may write: the user can neither change nor replace what runs.
void StartRemainingCleanUp(const UninstallBatch& remaining) {
  base::FilePath temp;
  if (!GetSystemTempFolder(&temp))
    return;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1, &raw, nullptr))
    return;
  const base::win::ScopedLocalMemory<> descriptor(raw);
  SECURITY_ATTRIBUTES security = {sizeof(security), raw, FALSE};
  base::FilePath folder;
  // A name someone made first is not this process's folder: another is tried.
  for (int attempt = 0; attempt < 8 && folder.empty(); ++attempt) {
    const base::FilePath candidate =
        temp.Append(L"Clean-up " + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64() +
                                                                                                     attempt));
    if (CreateDirectoryW(candidate.value().c_str(), &security))
      folder = candidate;
  }
  const base::FilePath batch = folder.Append(kUninstallBatchFileName);
  const std::string text = remaining.Format();
  base::win::ScopedHandle file(CreateFileW(batch.value().c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (folder.empty() || !file.IsValid() ||
      !WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    ReportProblem("Could not leave the rest of the clean-up to a batch in", folder, "it cannot be written");
    return;
  }
  file.Close();
  base::LaunchOptions options;
  options.start_hidden = true;
  base::LaunchProcess(base::CommandLine(batch), options);  // its handle is closed as the result goes
}

// Until the requester releases the grant or the run's initial process ends, then the grace.
void WaitForRelease(HANDLE undo, HANDLE initial) {
  const HANDLE objects[] = {undo, initial};
  const DWORD count = initial ? 2 : 1;
  WaitForMultipleObjects(count, objects, FALSE, INFINITE);
  if (const GraceWaitHook hook = GetFolderPermissionGraceHook())
    hook(kFolderPermissionGraceMilliseconds);
  else
    Sleep(kFolderPermissionGraceMilliseconds);
}

// The account a grant goes to: the user of the run's initial process, as its token names it. The requester's
// process writes the account's name and could name anyone's, or a group; a name that is not that user is refused.
bool ReadRunUser(const std::wstring& named, HANDLE initial, std::vector<BYTE>* user, std::string* problem) {
  const wchar_t* const stand_in = GetRunUserStandInSeam();
  *user = stand_in ? AccountSid(stand_in) : ProcessUserSid(initial);
  if (user->empty()) {
    *problem = "the user of the run's initial process cannot be read";
    return false;
  }
  if (!NamesAccount(named, *user)) {
    *problem = "the account " + base::WideToUTF8(named) + " is not the user of the run's initial process";
    return false;
  }
  return true;
}

// Whether the folder holds an installation of the product: its status log, or the earlier engine's, loads.
bool HoldsInstallation(const base::FilePath& folder) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  XmlDocument document;
  InstallLog log;
  const bool holds = LoadFolderInstallLog(&document, &log, folder) != FolderInstallLog::kNone;
  if (SUCCEEDED(com))
    CoUninitialize();
  return holds;
}

// Makes the folder when it is missing and grants it to `user`. Nothing is made or changed through a link, which may
// lead to anyone's folder: the folders on its path stay held, for listing, from their check until the grant is made,
// so that none can be swapped for a link in between. A folder that existed already may be anyone's: only an empty one
// or an installation of the product is granted.
bool MakeAndGrant(const base::FilePath& folder, const std::vector<BYTE>& user, FolderTreeGrant* grant,
                  std::string* problem) {
  LinkFreePath above(true);
  if (!above.Hold(folder, false, problem))
    return false;
  if (const CheckedPathUseHook hook = GetCheckedPathUseHook())
    hook(folder);
  const bool made = !base::DirectoryExists(folder);
  if (made && !base::CreateDirectory(folder)) {
    *problem = "it cannot be made";
    return false;
  }
  // Now itself too, and whatever folders were made with it.
  LinkFreePath path(true);
  if (!path.Hold(folder, true, problem))
    return false;
  const bool empty =
      base::FileEnumerator(folder, false, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES)
          .Next()
          .empty();
  if (!made && !empty && !HoldsInstallation(folder)) {
    *problem = "it is not empty and holds no installation of the product";
    return false;
  }
  return grant->Grant(folder, user, problem);
}

void GrantUntilReleased(const base::CommandLine& command_line, const base::FilePath& folder) {
  const base::win::ScopedHandle granted = OpenNamedEvent(EVENT_ALL_ACCESS, GetGiveInstallPermissionEventName(folder));
  if (!granted.IsValid())
    return;
  const base::win::ScopedHandle undo = OpenNamedEvent(EVENT_ALL_ACCESS, GetGiveInstallPermissionUndoEventName(folder));
  if (!undo.IsValid())
    return;
  const bool permanent = command_line.HasSwitch(kPermanentPermissionsSwitch);
  // The grant is for the user of the run's initial process, whichever account the requester names. A temporary
  // grant also ends with that process, even when the requester dies before releasing it.
  std::string problem;
  base::win::ScopedHandle initial;
  if (!OpenInitialProcess(command_line, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, &initial)) {
    ReportProblem("Refused to grant access to", folder, "the run's initial process cannot be opened");
    return;
  }
  std::vector<BYTE> user;
  FolderTreeGrant grant;
  if (!ReadRunUser(command_line.GetSwitchValueNative(kPermissionsForUserSwitch), initial.Get(), &user, &problem) ||
      !MakeAndGrant(folder, user, &grant, &problem)) {
    ReportProblem("Refused to grant access to", folder, problem);
    return;
  }
  const bool requester_told = SetEvent(granted.Get()) != FALSE;
  if (permanent)
    return;
  if (requester_told)
    WaitForRelease(undo.Get(), initial.Get());
  if (!grant.Undo(&problem))
    ReportProblem("Could not take back all of the access given to", folder, problem);
}

}  // namespace

void AppendFolderPermissionSwitches(const FolderPermissionRequest& request, base::CommandLine* command_line) {
  command_line->AppendSwitchFilePath(kSetFolderPermissionSwitch, request.folder);
  command_line->AppendSwitchNative(kPermissionsForUserSwitch, request.user_name);
  if (request.permanent)
    command_line->AppendSwitch(kPermanentPermissionsSwitch);
  if (request.run_uninstall_batch)
    command_line->AppendSwitch(kRunUninstallBatSwitch);
  command_line->AppendSwitchASCII(kCrashReporterPidSwitch, std::to_string(request.crash_reporter_pid));
  if (request.wait_for_package)
    command_line->AppendSwitchFilePath(kWaitForPackageSwitch, request.package_folder);
  command_line->AppendSwitchNative(kInitialPidSwitch, request.initial_pid);
}

std::wstring GetGiveInstallPermissionEventName(const base::FilePath& folder) {
  return GetInstallerKernelObjectName(folder.value(), kGiveInstallPermissionEvent, false);
}

std::wstring GetGiveInstallPermissionUndoEventName(const base::FilePath& folder) {
  return GetInstallerKernelObjectName(folder.value(), kGiveInstallPermissionUndoEvent, false);
}

std::wstring GetPackageReadyEventName(const base::FilePath& folder) {
  return GetInstallerKernelObjectName(folder.value(), kPackageReadyEventBase, true);
}

std::wstring GetInstallationInterruptedEventName(const base::FilePath& folder) {
  return GetInstallerKernelObjectName(folder.value(), kInstallationInterruptedEventBase, true);
}

void RunFolderPermissionHelper() {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (!command_line.HasSwitch(kPermissionsForUserSwitch))
    return;
  const base::FilePath folder = command_line.GetSwitchValuePath(kSetFolderPermissionSwitch);
  if (command_line.HasSwitch(kWaitForPackageSwitch))
    WaitForPackageThenHandOver(command_line, folder);
  else
    GrantUntilReleased(command_line, folder);
}

base::win::ScopedHandle OpenRunInitialProcess() {
  base::win::ScopedHandle process;
  OpenInitialProcess(*base::CommandLine::ForCurrentProcess(), SYNCHRONIZE, &process);
  return process;
}

void RunUninstallBatch(const base::FilePath& installation_folder, HANDLE initial_process) {
  // An uninstallation's batch is a few hundred lines at most; anything far larger is not one.
  constexpr size_t kMaximumBatchSize = 1 << 20;
  const base::FilePath batch = installation_folder.Append(kUninstallBatchFileName);
  if (!base::PathExists(batch))
    return;
  // The files the run still holds can go only once it is over: its initial process, opened before the run could
  // end, is waited for by handle. The process ids in the batch are the user's text and say nothing here.
  if (initial_process)
    WaitForSingleObject(initial_process, INFINITE);
  std::string text;
  std::string error;
  UninstallBatchEntries entries;
  if (!base::ReadFileToStringWithMaxSize(batch, &text, kMaximumBatchSize)) {
    ReportProblem("Refused to run the clean-up batch", batch, "cannot be read or is too large");
    return;
  }
  if (!CheckUninstallBatch(text, installation_folder, &error, &entries)) {
    ReportProblem("Refused to run the clean-up batch", batch, error);
    return;
  }
  // The user's process made the batch and could change any folder on its paths later: each entry is deleted here,
  // through handles opened from the installation folder's own down, never through a link.
  LinkFreePath above;
  const base::win::ScopedHandle folder = OpenLinkFreeFolder(installation_folder, &above, &error);
  if (!folder.IsValid()) {
    ReportProblem("Refused to run the clean-up batch", batch, error);
    return;
  }
  // What is still in use (this process's own files among them) is left to a batch that runs after this process.
  UninstallBatch remaining(installation_folder);
  auto delete_entry = [&](const UninstallBatchEntry& entry, bool is_file) {
    if (entry.below.empty())
      return DeleteOpenFolder(folder.Get());
    if (const CheckedPathUseHook hook = GetCheckedPathUseHook())
      hook(entry.path);
    std::vector<base::win::ScopedHandle> held;
    std::string problem;
    const base::win::ScopedHandle object = OpenInsideFolder(folder.Get(), installation_folder, entry.below, &held,
                                                            &problem);
    const DWORD open_error = object.IsValid() ? ERROR_SUCCESS : GetLastError();
    if (open_error == ERROR_FILE_NOT_FOUND || open_error == ERROR_PATH_NOT_FOUND)
      return true;  // gone already
    // A link on the way, or an entry that is not what the batch names, stays for good.
    if (open_error == kPathThroughLinkError || open_error == ERROR_DIRECTORY ||
        open_error == ERROR_INVALID_NAME) {
      ReportProblem("Not deleting", entry.path, problem);
      return false;
    }
    if (object.IsValid() && DeleteThroughHandle(object.Get()))
      return true;
    // In use: held open by a process, or a program that runs.
    if (is_file)
      remaining.AddLeftoverFile(entry.path);
    return false;
  };
  delete_entry({batch, {kUninstallBatchFileName}}, false);
  for (const UninstallBatchEntry& file : entries.files)
    delete_entry(file, true);
  for (const UninstallBatchEntry& empty_folder : entries.folders)
    delete_entry(empty_folder, false);
  if (remaining.HasLeftovers())
    StartRemainingCleanUp(remaining);
}

}  // namespace zorvi::installer
